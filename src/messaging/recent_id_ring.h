// The receiver's memory of the last packet ids it has seen, so that a
// datagram that arrives more than once (on the mailslot and over UDP, once
// per adapter, or a mailslot broadcast that loops back) is handled once.
#ifndef ZANVOR_MESSAGING_RECENT_ID_RING_H_
#define ZANVOR_MESSAGING_RECENT_ID_RING_H_

#include <cstdint>

#include "messaging/packet.h"

namespace zanvor {

// kEntries ids, overwritten oldest first. Starts as kEntries all-zero ids, so
// an all-zero id counts as seen until kEntries ids have been recorded.
// Nothing clears it. Ids are compared as raw bytes; a hash index over the
// entries keeps a lookup to a few comparisons.
class RecentIdRing {
 public:
  static constexpr int kEntries = 1024;

  RecentIdRing();
  RecentIdRing(const RecentIdRing&) = delete;
  RecentIdRing& operator=(const RecentIdRing&) = delete;

  // True when `id` is among the entries; the ring is then left unchanged (a
  // duplicate does not refresh its entry). Otherwise records `id` over the
  // oldest entry and returns false.
  bool CheckAndRecordId(const uint8_t id[kPacketIdSize]);

  // Checks the index against the entries (for tests and the fuzzers).
  bool IndexIsConsistent() const;

 private:
  static constexpr int kBuckets = 2 * kEntries;  // a power of two
  static constexpr int16_t kNone = -1;

  static uint32_t BucketOf(const uint8_t id[kPacketIdSize]);
  void Unlink(int entry);

  uint8_t entries_[kEntries][kPacketIdSize];
  // Entries still holding the all-zero id they started with; they are in no
  // bucket, so that they cost nothing to look up.
  int initialZeros_;
  bool indexed_[kEntries];
  int16_t bucketHead_[kBuckets];
  int16_t nextInBucket_[kEntries];
  uint16_t writePosition_;  // 0 .. kEntries - 1
};

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_RECENT_ID_RING_H_
