// The newest packet ids a machine's server took in, kept where the next
// server of the machine finds them. A post travels by mailslot and by UDP,
// and its copies need not arrive together; when the server unloads (or dies)
// between them, the instance that takes the role over would hand the late
// copy to the handlers a second time with a duplicate filter that starts
// empty. The server records every new id here as well, and the next one
// copies the ids into its own filter when it wins the role.
#ifndef ZANVOR_MESSAGING_SHARED_RECENT_IDS_H_
#define ZANVOR_MESSAGING_SHARED_RECENT_IDS_H_

#include <cstdint>

#include "messaging/packet.h"
#include "messaging/recent_id_ring.h"

namespace zanvor {

// A view of a block of kSharedRecentIdsBytes that every instance of the
// machine maps (a section of its own, beside the ring's). Only the holder
// of the server role writes it; a new holder reads it after winning the
// role's mutex, which orders the two. Another process can write anything
// there, so reading it trusts nothing but the block's size.
//
// The block: a 4-byte tag, a 4-byte count of ids ever recorded (it wraps),
// then kSharedRecentIdsCapacity slots of a 16-byte id and the 4-byte
// millisecond count it was recorded at; id number n is in slot n mod the
// capacity. All zero is an empty block.
class SharedRecentIds {
 public:
  static constexpr uint32_t kCapacity = 4096;   // a power of two
  static constexpr uint32_t kTag = 0x5344495a;  // "ZIDS" little-endian
  static constexpr uint32_t kSlotBytes = kPacketIdSize + 4;
  static constexpr uint32_t kBytes = 8 + kCapacity * kSlotBytes;

  // Detached: Record and CopyInto do nothing.
  SharedRecentIds() = default;
  // REQUIRES: block holds kBytes and outlives this view (or the view is
  // detached first).
  explicit SharedRecentIds(uint8_t* block) : block_(block) {}

  bool attached() const { return block_ != nullptr; }

  // Adds one id, recorded at nowMs, over the oldest when the block is full.
  void Record(const uint8_t id[kPacketIdSize], uint32_t nowMs);

  // Records in `ring`, at nowMs, every id of the block recorded less than
  // RecentIdRing::kRememberMs before nowMs, oldest first. Returns how many
  // ids the ring did not hold yet.
  int CopyInto(RecentIdRing& ring, uint32_t nowMs) const;

 private:
  uint8_t* block_ = nullptr;
};

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_SHARED_RECENT_IDS_H_
