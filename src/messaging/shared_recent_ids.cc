#include "messaging/shared_recent_ids.h"

#include <cstring>

#include "contract/machine_objects.h"

namespace zanvor {
namespace {

static_assert((SharedRecentIds::kCapacity & (SharedRecentIds::kCapacity - 1)) == 0,
              "the slot of id n is n mod the capacity");
static_assert(SharedRecentIds::kBytes == kRecentIdsSectionSize, "the block is the section");

uint32_t Load32(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

void Store32(uint8_t* p, uint32_t value) { std::memcpy(p, &value, sizeof value); }

uint8_t* SlotAt(uint8_t* block, uint32_t n) {
  return block + 8 + (n & (SharedRecentIds::kCapacity - 1)) * SharedRecentIds::kSlotBytes;
}

}  // namespace

void SharedRecentIds::Record(const uint8_t id[kPacketIdSize], uint32_t nowMs) {
  if (block_ == nullptr) return;
  // A block of another layout (or none yet) starts afresh.
  uint32_t count = Load32(block_ + 4);
  if (Load32(block_) != kTag) {
    count = 0;
    Store32(block_, kTag);
  }
  uint8_t* slot = SlotAt(block_, count);
  std::memcpy(slot, id, kPacketIdSize);
  Store32(slot + kPacketIdSize, nowMs);
  Store32(block_ + 4, count + 1);
}

int SharedRecentIds::CopyInto(RecentIdRing& ring, uint32_t nowMs) const {
  if (block_ == nullptr || Load32(block_) != kTag) return 0;
  const uint32_t count = Load32(block_ + 4);
  const uint32_t held = count < kCapacity ? count : kCapacity;
  int added = 0;
  for (uint32_t n = count - held; n != count; ++n) {
    // Copied out first: the block is shared, the ring's input is ours.
    uint8_t slot[kSlotBytes];
    std::memcpy(slot, SlotAt(block_, n), kSlotBytes);
    // A time after nowMs is as old as the wrap makes it: never kept.
    if (nowMs - Load32(slot + kPacketIdSize) >= RecentIdRing::kRememberMs) continue;
    if (!ring.CheckAndRecordId(slot, nowMs)) ++added;
  }
  return added;
}

}  // namespace zanvor
