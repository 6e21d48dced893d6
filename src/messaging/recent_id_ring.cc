#include "messaging/recent_id_ring.h"

#include <cassert>
#include <cstring>

namespace zanvor {

RecentIdRing::RecentIdRing() : writePosition_(0) { std::memset(entries_, 0, sizeof entries_); }

bool RecentIdRing::CheckAndRecordId(const uint8_t id[kPacketIdSize]) {
  for (const auto& entry : entries_) {
    if (std::memcmp(entry, id, kPacketIdSize) == 0) return true;
  }
  assert(writePosition_ < kEntries);
  std::memcpy(entries_[writePosition_], id, kPacketIdSize);
  writePosition_ = static_cast<uint8_t>(writePosition_ + 1);
  if (writePosition_ == kEntries) writePosition_ = 0;
  return false;
}

}  // namespace zanvor
