#include "messaging/recent_id_ring.h"

#include <cassert>
#include <cstring>

namespace zanvor {
namespace {

bool IsZero(const uint8_t id[kPacketIdSize]) {
  for (int i = 0; i < kPacketIdSize; ++i) {
    if (id[i] != 0) return false;
  }
  return true;
}

}  // namespace

RecentIdRing::RecentIdRing() : initialZeros_(kEntries), writePosition_(0) {
  std::memset(entries_, 0, sizeof entries_);
  for (bool& indexed : indexed_) indexed = false;
  for (int16_t& head : bucketHead_) head = kNone;
  for (int16_t& next : nextInBucket_) next = kNone;
}

// Ids are GUIDs or tick-based fallbacks, not chosen by the receiver: mixing
// all 16 bytes is enough to spread them; a sender that crafts colliding ids
// only lengthens its own bucket.
uint32_t RecentIdRing::BucketOf(const uint8_t id[kPacketIdSize]) {
  uint32_t hash = 0x811c9dc5u;
  for (int i = 0; i < kPacketIdSize; ++i) {
    hash ^= id[i];
    hash *= 0x01000193u;
  }
  return hash & (kBuckets - 1);
}

void RecentIdRing::Unlink(int entry) {
  int16_t* link = &bucketHead_[BucketOf(entries_[entry])];
  while (*link != kNone && *link != entry) link = &nextInBucket_[*link];
  assert(*link == entry);
  if (*link == entry) *link = nextInBucket_[entry];
  nextInBucket_[entry] = kNone;
  indexed_[entry] = false;
}

bool RecentIdRing::CheckAndRecordId(const uint8_t id[kPacketIdSize]) {
  if (initialZeros_ > 0 && IsZero(id)) return true;
  const uint32_t bucket = BucketOf(id);
  for (int16_t e = bucketHead_[bucket]; e != kNone; e = nextInBucket_[e]) {
    if (std::memcmp(entries_[e], id, kPacketIdSize) == 0) return true;
  }
  const int slot = writePosition_;
  if (indexed_[slot]) {
    Unlink(slot);
  } else {
    --initialZeros_;  // an entry that still held its initial zero id
  }
  std::memcpy(entries_[slot], id, kPacketIdSize);
  nextInBucket_[slot] = bucketHead_[bucket];
  bucketHead_[bucket] = static_cast<int16_t>(slot);
  indexed_[slot] = true;
  writePosition_ = static_cast<uint16_t>((writePosition_ + 1) % kEntries);
  return false;
}

bool RecentIdRing::IndexIsConsistent() const {
  int indexed = 0;
  for (int b = 0; b < kBuckets; ++b) {
    for (int16_t e = bucketHead_[b]; e != kNone; e = nextInBucket_[e]) {
      if (!indexed_[e] || BucketOf(entries_[e]) != static_cast<uint32_t>(b)) return false;
      if (++indexed > kEntries) return false;  // a cycle
    }
  }
  return indexed + initialZeros_ == kEntries;
}

}  // namespace zanvor
