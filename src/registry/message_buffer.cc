#include "registry/message_buffer.h"

#include "base/little_endian.h"
#include "registry/ring_layout.h"

namespace zanvor {
namespace {

// One mapped view for one step: every view starts at offset 0, ends right
// after the last byte the step touches and is never longer than the section.
class StepView {
 public:
  StepView(RingAccess& ring, uint32_t bytes)
      : ring_(ring), view_(ring.MapFront(bytes > kSectionSize ? kSectionSize : bytes)) {}
  ~StepView() {
    if (view_ != nullptr) ring_.Unmap(view_);
  }
  StepView(const StepView&) = delete;
  StepView& operator=(const StepView&) = delete;
  uint8_t* get() const { return view_; }

 private:
  RingAccess& ring_;
  uint8_t* view_;
};

class WritersLock {
 public:
  explicit WritersLock(RingAccess& ring) : ring_(ring), owned_(ring.LockWriters()) {}
  ~WritersLock() {
    if (owned_) ring_.UnlockWriters();
  }
  WritersLock(const WritersLock&) = delete;
  WritersLock& operator=(const WritersLock&) = delete;
  bool owned() const { return owned_; }

 private:
  RingAccess& ring_;
  bool owned_;
};

}  // namespace

uint16_t StoreText(RingAccess& ring, const std::string& text) {
  const uint32_t lengthWithNul = static_cast<uint32_t>(text.size()) + 1;
  Reservation reservation{};
  // A text that cannot fit even at the front is refused before anything is
  // touched, so the section stays as it was.
  if (!ReserveRecord(0, lengthWithNul, &reservation)) return 0;

  WritersLock lock(ring);
  if (!lock.owned()) return 0;
  {
    StepView header(ring, kFirstRecord);
    if (header.get() == nullptr) return 0;
    if (!ReserveRecord(LoadU32(header.get()), lengthWithNul, &reservation)) return 0;
    StoreU32(header.get(), reservation.nextPosition);
  }
  StepView record(ring, reservation.position + kRecordHeaderSize + lengthWithNul);
  // When this map fails the header already points past the reserved bytes,
  // which stay unwritten; their position is never handed out, so no reader
  // is sent there.
  if (record.get() == nullptr) return 0;
  WriteRecord(record.get(), reservation.position, text.c_str(),
              static_cast<uint16_t>(lengthWithNul));
  return static_cast<uint16_t>(reservation.position);
}

std::string ReadText(RingAccess& ring, uint16_t position, bool wholeRecord) {
  if (position < kFirstRecord) return std::string();
  uint16_t length = 0;
  {
    const uint32_t bytes = static_cast<uint32_t>(position) + kRecordHeaderSize;
    StepView view(ring, bytes);
    if (view.get() == nullptr) return std::string();
    length = RecordLength(view.get(), bytes, position);
  }
  uint32_t bytes = static_cast<uint32_t>(position) + kRecordHeaderSize + length;
  if (bytes > kSectionSize) bytes = kSectionSize;
  StepView view(ring, bytes);
  if (view.get() == nullptr) return std::string();
  std::string text = ReadRecord(view.get(), bytes, position);
  if (wholeRecord && text.size() + 1 != length) return std::string();
  return text;
}

uint32_t ReadNextPosition(RingAccess& ring) {
  StepView header(ring, kFirstRecord);
  return header.get() == nullptr ? 0 : LoadU32(header.get());
}

}  // namespace zanvor
