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

}  // namespace
}  // namespace zanvor
