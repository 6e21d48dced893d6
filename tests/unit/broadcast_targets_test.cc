#include "messaging/broadcast_targets.h"

#include <gtest/gtest.h>

namespace zanvor {
namespace {

constexpr uint32_t Ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  return a << 24 | b << 16 | c << 8 | d;
}

TEST(BroadcastTargetsTest, OneSubnetBroadcastPerAdapterAddressThenLoopback) {
  const std::vector<AdapterAddress> adapters = {
      {Ip(10, 1, 2, 3), 24},   {Ip(192, 168, 7, 9), 16}, {Ip(10, 1, 2, 77), 24},   // same subnet
      {Ip(127, 0, 0, 1), 8},   {Ip(172, 16, 0, 5), 32},  {Ip(172, 16, 0, 6), 31},  // none
      {Ip(172, 20, 9, 1), 30}, {Ip(8, 8, 8, 8), 0},
  };
  EXPECT_EQ(BroadcastTargets(adapters),
            (std::vector<uint32_t>{Ip(10, 1, 2, 255), Ip(192, 168, 255, 255), Ip(172, 20, 9, 3),
                                   0xFFFFFFFFu, kLoopbackAddress}));
  EXPECT_EQ(BroadcastTargets({}), std::vector<uint32_t>{kLoopbackAddress});
}

int listings = 0;
std::vector<AdapterAddress> OneAdapter() {
  ++listings;
  return {{Ip(10, 0, 0, 5), 24}};
}

TEST(BroadcastTargetsTest, TheCacheListsAgainAfterItsLifetimeOrWhenForgotten) {
  BroadcastTargetCache cache;
  const uint32_t start = 0xFFFFFF00u;  // the tick count wraps in between
  EXPECT_EQ(cache.Targets(start, &OneAdapter),
            (std::vector<uint32_t>{Ip(10, 0, 0, 255), kLoopbackAddress}));
  cache.Targets(start + BroadcastTargetCache::kTargetsLifetimeMs - 1, &OneAdapter);
  EXPECT_EQ(listings, 1);
  cache.Targets(start + BroadcastTargetCache::kTargetsLifetimeMs, &OneAdapter);
  EXPECT_EQ(listings, 2);
  cache.Forget();
  cache.Targets(start + BroadcastTargetCache::kTargetsLifetimeMs, &OneAdapter);
  EXPECT_EQ(listings, 3);
}

}  // namespace
}  // namespace zanvor
