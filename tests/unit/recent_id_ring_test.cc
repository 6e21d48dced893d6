#include "messaging/recent_id_ring.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "unit/fake_mailslot.h"

namespace zanvor {
namespace {

constexpr int kCap = RecentIdRing::kCapacity;
constexpr uint32_t kKeep = RecentIdRing::kRememberMs;

class RecentIdRingTest : public ::testing::Test {
 protected:
  bool Seen(uint32_t n) { return ring_.CheckAndRecordId(TestId(n).data(), now_); }
  // Records `count` fresh ids, numbered from `first`, each one new.
  void RecordFresh(uint32_t first, int count) {
    for (int i = 0; i < count; ++i) ASSERT_FALSE(Seen(first + static_cast<uint32_t>(i)));
  }

  RecentIdRing ring_;
  uint32_t now_ = 5000;
};

TEST_F(RecentIdRingTest, FirstSightingIsNewSecondIsDuplicate) {
  EXPECT_FALSE(Seen(1));
  EXPECT_TRUE(Seen(1));
  EXPECT_TRUE(Seen(1));
  EXPECT_FALSE(Seen(2));
}

TEST_F(RecentIdRingTest, IdsDifferingInTheLastByteOnlyAreDistinct) {
  std::vector<uint8_t> a = TestId(9);
  std::vector<uint8_t> b = a;
  b[15] ^= 1;
  EXPECT_FALSE(ring_.CheckAndRecordId(a.data(), now_));
  EXPECT_FALSE(ring_.CheckAndRecordId(b.data(), now_));
}

// Nothing is held before the first id: the all-zero id is new like any other.
TEST_F(RecentIdRingTest, TheAllZeroIdIsAnIdLikeAnyOther) {
  const uint8_t zero[kPacketIdSize] = {};
  EXPECT_FALSE(ring_.CheckAndRecordId(zero, now_));
  EXPECT_TRUE(ring_.CheckAndRecordId(zero, now_));
  EXPECT_EQ(ring_.size(), 1u);
}

// The slower path's copy of a burst arrives after thousands of newer posts:
// it is still a copy.
TEST_F(RecentIdRingTest, AnIdSeenThenTwoThousandOthersIsStillADuplicate) {
  RecordFresh(1, 1);
  RecordFresh(100000, 2000);
  EXPECT_TRUE(Seen(1));
  EXPECT_TRUE(ring_.IndexIsConsistent());
}

TEST_F(RecentIdRingTest, AnIdIsRememberedForThirtySecondsAndThenForgotten) {
  RecordFresh(1, 1);
  now_ += kKeep - 1;
  EXPECT_TRUE(Seen(1));
  now_ += 1;
  EXPECT_FALSE(Seen(1)) << "30 s after it was recorded it counts as new";
  EXPECT_TRUE(Seen(1));
}

TEST_F(RecentIdRingTest, DuplicateDoesNotRefreshItsEntry) {
  RecordFresh(1, 1);
  now_ += kKeep / 2;
  EXPECT_TRUE(Seen(1));  // would keep it for another 30 s if it refreshed
  now_ += kKeep / 2;
  EXPECT_FALSE(Seen(1));
}

// Just under the capacity within 30 s: every one of them is remembered to
// the end of its 30 s, the first included.
TEST_F(RecentIdRingTest, EveryIdOfThirtySecondsIsRememberedUpToTheCapacity) {
  const uint32_t start = now_;
  RecordFresh(1, 1);
  for (int i = 1; i < kCap; ++i) {
    now_ = start + static_cast<uint32_t>(static_cast<uint64_t>(kKeep - 1) * i / kCap);
    ASSERT_FALSE(Seen(1000000 + static_cast<uint32_t>(i)));
  }
  now_ = start + kKeep - 1;
  EXPECT_TRUE(Seen(1));
  EXPECT_TRUE(Seen(1000000 + kCap - 1));
  EXPECT_EQ(ring_.size(), static_cast<size_t>(kCap));
  EXPECT_TRUE(ring_.IndexIsConsistent());
}

// A flood of more ids within 30 s than the filter holds: the oldest go
// first, exactly the last kCapacity stay, and the storage stops growing.
TEST_F(RecentIdRingTest, AFloodKeepsExactlyTheLastCapacityIds) {
  const uint32_t last = 3 * kCap + 75;
  RecordFresh(1, static_cast<int>(last));
  EXPECT_EQ(ring_.storage(), static_cast<size_t>(kCap));
  const uint32_t oldest = last - kCap + 1;
  for (uint32_t n = oldest; n <= last; ++n) ASSERT_TRUE(Seen(n)) << n;
  // Recording an older id again evicts the oldest survivor and nothing else.
  EXPECT_FALSE(Seen(oldest - 1));
  EXPECT_FALSE(Seen(oldest));
  for (uint32_t n = oldest + 2; n <= last; ++n) ASSERT_TRUE(Seen(n)) << n;
  EXPECT_EQ(ring_.storage(), static_cast<size_t>(kCap));
  EXPECT_TRUE(ring_.IndexIsConsistent());
}

// Ten posts a second for ten minutes: 300 ids are held at a time, in the
// first storage, and each is remembered its 30 s.
TEST_F(RecentIdRingTest, TheStorageFollowsTheRateOfTheLastThirtySeconds) {
  EXPECT_EQ(ring_.storage(), 0u);
  for (uint32_t n = 1; n <= 6000; ++n) {
    now_ += 100;
    ASSERT_FALSE(Seen(n));
    if (n > 300) {
      ASSERT_TRUE(Seen(n - 299)) << n;
    }
  }
  EXPECT_EQ(ring_.size(), 300u);
  EXPECT_EQ(ring_.storage(), static_cast<size_t>(RecentIdRing::kFirstStorage));
  EXPECT_TRUE(ring_.IndexIsConsistent());
  // A burst grows it, and the ids before the burst are kept through it.
  RecordFresh(100000, 5000);
  EXPECT_TRUE(Seen(6000));
  EXPECT_EQ(ring_.storage(), 8192u);
  EXPECT_TRUE(ring_.IndexIsConsistent());
}

TEST_F(RecentIdRingTest, AgesAreCountedAcrossTheWrapOfTheClock) {
  now_ = 0xFFFFF000u;
  RecordFresh(1, 1);
  now_ = 0x00000F00u;  // 7.9 s later
  EXPECT_TRUE(Seen(1));
  now_ += kKeep;
  EXPECT_FALSE(Seen(1));
}

}  // namespace
}  // namespace zanvor
