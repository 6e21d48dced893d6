#include "messaging/recent_id_ring.h"

#include <cassert>
#include <cstring>
#include <new>

namespace zanvor {

static_assert((RecentIdRing::kCapacity & (RecentIdRing::kCapacity - 1)) == 0 &&
                  (RecentIdRing::kFirstStorage & (RecentIdRing::kFirstStorage - 1)) == 0 &&
                  RecentIdRing::kFirstStorage <= RecentIdRing::kCapacity,
              "the storage doubles from kFirstStorage up to exactly kCapacity");

// Ids are GUIDs or tick-based fallbacks, not chosen by the receiver: mixing
// all 16 bytes is enough to spread them; a sender that crafts colliding ids
// only lengthens its own bucket, and only ids that passed the check byte
// get this far.
uint32_t RecentIdRing::BucketOf(const uint8_t id[kPacketIdSize]) const {
  uint32_t hash = 0x811c9dc5u;
  for (int i = 0; i < kPacketIdSize; ++i) {
    hash ^= id[i];
    hash *= 0x01000193u;
  }
  return hash & static_cast<uint32_t>(bucketHead_.size() - 1);
}

void RecentIdRing::ForgetOldest() {
  assert(count_ > 0);
  const int32_t oldest = static_cast<int32_t>(head_);
  int32_t* link = &bucketHead_[BucketOf(entries_[head_].id)];
  while (*link != kNone && *link != oldest) link = &entries_[*link].nextInBucket;
  assert(*link == oldest);
  if (*link == oldest) *link = entries_[head_].nextInBucket;
  head_ = Slot(1);
  --count_;
}

// Doubles the storage, the ids kept in order from the oldest, and rebuilds
// the index for the new bucket count. Amortised over the ids that filled
// the old storage, a record stays O(1).
bool RecentIdRing::Grow() {
  const size_t size = entries_.empty() ? kFirstStorage : 2 * entries_.size();
  std::vector<Entry> entries;
  std::vector<int32_t> buckets;
  try {
    entries.resize(size);
    buckets.assign(2 * size, kNone);
  } catch (const std::bad_alloc&) {
    return false;  // a smaller filter beats a lost datagram
  }
  for (size_t age = 0; age < count_; ++age) entries[age] = entries_[Slot(age)];
  entries_.swap(entries);
  bucketHead_.swap(buckets);
  head_ = 0;
  for (size_t e = 0; e < count_; ++e) {
    int32_t& headOfBucket = bucketHead_[BucketOf(entries_[e].id)];
    entries_[e].nextInBucket = headOfBucket;
    headOfBucket = static_cast<int32_t>(e);
  }
  return true;
}

bool RecentIdRing::CheckAndRecordId(const uint8_t id[kPacketIdSize], uint32_t nowMs) {
  while (count_ > 0 && nowMs - entries_[head_].recordedMs >= kRememberMs) ForgetOldest();
  if (!entries_.empty()) {
    for (int32_t e = bucketHead_[BucketOf(id)]; e != kNone; e = entries_[e].nextInBucket) {
      if (std::memcmp(entries_[e].id, id, kPacketIdSize) == 0) return true;
    }
  }
  if (count_ == entries_.size()) {
    const bool full = entries_.size() >= static_cast<size_t>(kCapacity);
    if (full || !Grow()) {
      if (entries_.empty()) return false;  // not even the first storage: remember nothing
      ForgetOldest();
    }
  }
  const size_t slot = Slot(count_);
  Entry& entry = entries_[slot];
  std::memcpy(entry.id, id, kPacketIdSize);
  entry.recordedMs = nowMs;
  int32_t& headOfBucket = bucketHead_[BucketOf(id)];
  entry.nextInBucket = headOfBucket;
  headOfBucket = static_cast<int32_t>(slot);
  ++count_;
  return false;
}

bool RecentIdRing::IndexIsConsistent() const {
  if (entries_.size() > static_cast<size_t>(kCapacity) || count_ > entries_.size()) return false;
  if (bucketHead_.size() != 2 * entries_.size()) return false;
  size_t indexed = 0;
  for (size_t b = 0; b < bucketHead_.size(); ++b) {
    for (int32_t e = bucketHead_[b]; e != kNone; e = entries_[e].nextInBucket) {
      if (e < 0 || static_cast<size_t>(e) >= entries_.size()) return false;
      // Held entries only: from head_ on, count_ of them.
      const size_t age = (static_cast<size_t>(e) + entries_.size() - head_) % entries_.size();
      if (age >= count_ || BucketOf(entries_[e].id) != b) return false;
      if (++indexed > count_) return false;  // a cycle, or an entry twice
    }
  }
  return indexed == count_;
}

}  // namespace zanvor
