#include "messaging/shared_recent_ids.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "unit/fake_mailslot.h"

namespace zanvor {
namespace {

constexpr uint32_t kCap = SharedRecentIds::kCapacity;
constexpr uint32_t kKeep = RecentIdRing::kRememberMs;

class SharedRecentIdsTest : public ::testing::Test {
 protected:
  void Record(uint32_t n, uint32_t atMs) { ids_.Record(TestId(n).data(), atMs); }
  // Whether a ring filled from the block at nowMs already holds id n.
  bool Copied(uint32_t n, uint32_t nowMs) {
    RecentIdRing ring;
    ids_.CopyInto(ring, nowMs);
    return ring.CheckAndRecordId(TestId(n).data(), nowMs);
  }

  std::vector<uint8_t> block_ = std::vector<uint8_t>(SharedRecentIds::kBytes);
  SharedRecentIds ids_{block_.data()};
};

// GetTickCount wraps after 49.7 days; the ages are taken across the wrap.
TEST_F(SharedRecentIdsTest, IdsYoungerThanTheFilterRemembersAreCopiedAcrossTheTickWrap) {
  const uint32_t t0 = 0xFFFFF000u;
  Record(1, t0);
  Record(2, t0 + 10000);
  const uint32_t now = t0 + kKeep + 5;  // past the wrap
  EXPECT_FALSE(Copied(1, now));
  EXPECT_TRUE(Copied(2, now));
  EXPECT_FALSE(Copied(3, now));
}

TEST_F(SharedRecentIdsTest, AFullBlockKeepsTheNewestIdsOverTheOldest) {
  for (uint32_t n = 0; n < kCap + 10; ++n) Record(n, 100);
  RecentIdRing ring;
  EXPECT_EQ(ids_.CopyInto(ring, 200), static_cast<int>(kCap));
  EXPECT_FALSE(ring.CheckAndRecordId(TestId(9).data(), 200));
  EXPECT_TRUE(ring.CheckAndRecordId(TestId(10).data(), 200));
  EXPECT_TRUE(ring.CheckAndRecordId(TestId(kCap + 9).data(), 200));
}

// Any process of the session can write the section: what it holds is read
// within the block, and a block of another layout is started afresh.
TEST_F(SharedRecentIdsTest, AForeignBlockIsReadWithinItsBoundsAndStartedAfresh) {
  std::memset(block_.data(), 0xEE, block_.size());
  RecentIdRing ring;
  EXPECT_EQ(ids_.CopyInto(ring, 100), 0);
  uint32_t tag = SharedRecentIds::kTag;
  std::memcpy(block_.data(), &tag, sizeof tag);  // our tag over a count and slots of junk
  // Every slot reads as the one id of 0xEE bytes.
  EXPECT_EQ(ids_.CopyInto(ring, 0xEEEEEEEEu + 10), 1);
  std::memset(block_.data(), 0xEE, block_.size());
  Record(7, 100);
  EXPECT_TRUE(Copied(7, 150));
  EXPECT_FALSE(Copied(8, 150)) << "the junk slots were not taken for ids";
  EXPECT_EQ(SharedRecentIds().CopyInto(ring, 100), 0);
}

}  // namespace
}  // namespace zanvor
