#include "messaging/broadcast_targets.h"

#include <algorithm>

namespace zanvor {

uint32_t SubnetBroadcast(uint32_t address, uint8_t prefixLength) {
  if (prefixLength > 30) return 0;
  const uint32_t hostBits = prefixLength == 0 ? 0xFFFFFFFFu : (0xFFFFFFFFu >> prefixLength);
  return address | hostBits;
}

std::vector<uint32_t> BroadcastTargets(const std::vector<AdapterAddress>& addresses) {
  std::vector<uint32_t> targets;
  for (const AdapterAddress& a : addresses) {
    if ((a.address >> 24) == 127) continue;
    const uint32_t broadcast = SubnetBroadcast(a.address, a.prefixLength);
    if (broadcast == 0) continue;
    if (std::find(targets.begin(), targets.end(), broadcast) == targets.end()) {
      targets.push_back(broadcast);
    }
  }
  targets.push_back(kLoopbackAddress);
  return targets;
}

const std::vector<uint32_t>& BroadcastTargetCache::Targets(uint32_t nowMs, Lister list) {
  if (!listed_ || nowMs - listedAtMs_ >= kTargetsLifetimeMs) {
    targets_ = BroadcastTargets(list());
    listedAtMs_ = nowMs;
    listed_ = true;
  }
  return targets_;
}

}  // namespace zanvor
