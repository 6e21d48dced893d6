// The receiver's memory of the packet ids it has taken in, so that a
// datagram that arrives more than once (on the mailslot and over UDP, once
// per adapter, or a mailslot broadcast that loops back) is handled once.
#ifndef ZANVOR_MESSAGING_RECENT_ID_RING_H_
#define ZANVOR_MESSAGING_RECENT_ID_RING_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "messaging/packet.h"

namespace zanvor {

// The ids recorded in the last kRememberMs, oldest first, in a ring that
// grows with the rate they arrive at and never beyond kCapacity ids:
//
// - An id is remembered for at least kRememberMs after it was recorded, as
//   long as fewer than kCapacity ids were recorded in that time. Ids older
//   than that are forgotten as new ones come, which keeps the ring as small
//   as the last kRememberMs need.
// - More than kCapacity ids within kRememberMs (a flood): the oldest go
//   first, so the last kCapacity ids are always remembered, and the memory
//   stays bounded (about 2 MB at most; nothing is allocated before the first
//   id, so an instance that never receives holds none).
//
// Time comes in as a monotonic count of milliseconds that may wrap
// (GetTickCount's): ages are differences modulo 2^32. Ids are compared as
// raw bytes, the all-zero id included; a hash index over the entries keeps
// a lookup to a few comparisons.
class RecentIdRing {
 public:
  static constexpr uint32_t kRememberMs = 30000;
  static constexpr int kCapacity = 65536;
  static constexpr int kFirstStorage = 1024;  // entries allocated at the first id

  RecentIdRing() = default;
  RecentIdRing(const RecentIdRing&) = delete;
  RecentIdRing& operator=(const RecentIdRing&) = delete;

  // First forgets the ids recorded kRememberMs or more before nowMs. Then:
  // true when `id` is among the ids held (nothing changes: a duplicate does
  // not refresh its entry); otherwise records `id` at nowMs, over the oldest
  // id when kCapacity ids are held, and returns false.
  bool CheckAndRecordId(const uint8_t id[kPacketIdSize], uint32_t nowMs);

  // The ids held, and the entries allocated for them (<= kCapacity).
  size_t size() const { return count_; }
  size_t storage() const { return entries_.size(); }

  // Checks the index against the entries (for tests and the fuzzers).
  bool IndexIsConsistent() const;

 private:
  static constexpr int32_t kNone = -1;

  struct Entry {
    uint8_t id[kPacketIdSize];
    uint32_t recordedMs;
    int32_t nextInBucket;
  };

  uint32_t BucketOf(const uint8_t id[kPacketIdSize]) const;
  size_t Slot(size_t age) const { return (head_ + age) % entries_.size(); }
  void ForgetOldest();
  bool Grow();

  std::vector<Entry> entries_;       // a ring: count_ entries from head_ on
  std::vector<int32_t> bucketHead_;  // twice as many as entries_, a power of two
  size_t head_ = 0;                  // the oldest entry
  size_t count_ = 0;
};

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_RECENT_ID_RING_H_
