// The receiver's memory of the last packet ids it has seen, so that a
// datagram that arrives twice (a sender on several network paths, or a
// mailslot broadcast that loops back) is handled once.
#ifndef ZANVOR_MESSAGING_RECENT_ID_RING_H_
#define ZANVOR_MESSAGING_RECENT_ID_RING_H_

#include <cstdint>

#include "messaging/packet.h"

namespace zanvor {

// 20 ids, overwritten oldest first. Starts as 20 all-zero ids, so an all-zero
// id counts as seen until 20 ids have been recorded. Nothing clears it.
class RecentIdRing {
 public:
  static constexpr int kEntries = 20;

  RecentIdRing();
  RecentIdRing(const RecentIdRing&) = delete;
  RecentIdRing& operator=(const RecentIdRing&) = delete;

  // True when `id` is among the entries; the ring is then left unchanged (a
  // duplicate does not refresh its entry). Otherwise records `id` over the
  // oldest entry and returns false.
  bool CheckAndRecordId(const uint8_t id[kPacketIdSize]);

 private:
  uint8_t entries_[kEntries][kPacketIdSize];
  uint8_t writePosition_;  // 0 .. kEntries - 1
};

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_RECENT_ID_RING_H_
