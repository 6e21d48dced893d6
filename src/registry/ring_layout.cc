#include "registry/ring_layout.h"

#include <algorithm>
#include <cstring>

#include "base/little_endian.h"

namespace zanvor {
namespace {

// Usable bytes of a view: never more than the section, whatever the caller
// mapped.
uint32_t ViewLimit(uint32_t viewSize) { return std::min(viewSize, kSectionSize); }

bool RecordFieldInView(uint32_t viewSize, uint32_t position) {
  if (position < kFirstRecord || position >= kSectionSize) return false;
  return uint64_t{position} + kRecordHeaderSize <= ViewLimit(viewSize);
}

}  // namespace

bool ReserveRecord(uint32_t rawNextPosition, uint32_t lengthWithNul, Reservation* out) {
  if (lengthWithNul == 0 || lengthWithNul > kMaxRecordText) return false;
  const uint64_t size = uint64_t{lengthWithNul} + kRecordHeaderSize;
  uint64_t position = rawNextPosition == 0 ? kFirstRecord : rawNextPosition;
  // 64-bit sums: a header scribbled by a foreign writer may hold anything.
  if (position < kFirstRecord || position + size > kSectionSize) position = kFirstRecord;
  out->position = static_cast<uint32_t>(position);
  out->nextPosition = static_cast<uint32_t>(position + size);
  return true;
}

void WriteRecord(uint8_t* section, uint32_t position, const char* text, uint16_t lengthWithNul) {
  if (lengthWithNul == 0) return;
  uint8_t* record = section + position;
  record[0] = static_cast<uint8_t>(lengthWithNul);
  record[1] = static_cast<uint8_t>(lengthWithNul >> 8);
  std::memcpy(record + kRecordHeaderSize, text, lengthWithNul - 1u);
  record[kRecordHeaderSize + lengthWithNul - 1u] = 0;
}

std::string ReadRecord(const uint8_t* view, uint32_t viewSize, uint32_t position) {
  if (view == nullptr || !RecordFieldInView(viewSize, position)) return std::string();
  const uint32_t start = position + kRecordHeaderSize;
  const uint32_t end = static_cast<uint32_t>(
      std::min<uint64_t>(uint64_t{start} + LoadU16(view + position), ViewLimit(viewSize)));
  const auto* first = view + start;
  const auto* nul = static_cast<const uint8_t*>(std::memchr(first, 0, end - start));
  if (nul == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(first), static_cast<size_t>(nul - first));
}

uint16_t RecordLength(const uint8_t* view, uint32_t viewSize, uint32_t position) {
  if (view == nullptr || !RecordFieldInView(viewSize, position)) return 0;
  return LoadU16(view + position);
}

uint32_t TextCheck(const std::string& text) {
  uint32_t hash = 0x811c9dc5u;
  for (const char c : text) {
    hash ^= static_cast<uint8_t>(c);
    hash *= 0x01000193u;
  }
  return hash == 0 ? 1 : hash;
}

}  // namespace zanvor
