#include "messaging/recent_id_ring.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "unit/fake_mailslot.h"

namespace zanvor {
namespace {

class RecentIdRingTest : public ::testing::Test {
 protected:
  bool Seen(uint32_t n) { return ring_.CheckAndRecordId(TestId(n).data()); }
  // Records `count` fresh ids, numbered from `first`, each one new.
  void RecordFresh(uint32_t first, int count) {
    for (int i = 0; i < count; ++i) ASSERT_FALSE(Seen(first + static_cast<uint32_t>(i)));
  }
  bool SeenZero() {
    const uint8_t zero[kPacketIdSize] = {};
    return ring_.CheckAndRecordId(zero);
  }

  RecentIdRing ring_;
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
  EXPECT_FALSE(ring_.CheckAndRecordId(a.data()));
  EXPECT_FALSE(ring_.CheckAndRecordId(b.data()));
}

constexpr int kN = RecentIdRing::kEntries;

TEST_F(RecentIdRingTest, ZeroIdCountsAsSeenUntilEveryInitialEntryIsOverwritten) {
  EXPECT_TRUE(SeenZero());
  RecordFresh(100000, kN - 1);
  EXPECT_TRUE(SeenZero()) << "one initial zero entry is still left";
  RecordFresh(200000, 1);
  EXPECT_FALSE(SeenZero()) << "all initial entries are overwritten";
  EXPECT_TRUE(SeenZero());
  EXPECT_TRUE(ring_.IndexIsConsistent());
}

TEST_F(RecentIdRingTest, AnIdIsForgottenAfterExactlyTheRingsLengthOfOthers) {
  RecordFresh(1, 1);
  RecordFresh(100000, kN - 1);
  EXPECT_TRUE(Seen(1));
  RecordFresh(200000, 1);
  EXPECT_FALSE(Seen(1));
}

TEST_F(RecentIdRingTest, DuplicateDoesNotRefreshItsEntry) {
  RecordFresh(1, 1);
  RecordFresh(100000, kN - 2);
  EXPECT_TRUE(Seen(1));  // would keep it for a whole ring more if it refreshed
  RecordFresh(200000, 1);
  EXPECT_TRUE(Seen(1));
  RecordFresh(300000, 1);
  EXPECT_FALSE(Seen(1));
}

TEST_F(RecentIdRingTest, KeepsExactlyTheLastEntriesAcrossManyWraps) {
  const uint32_t last = 3 * kN + 75;
  RecordFresh(1, static_cast<int>(last));
  const uint32_t oldest = last - kN + 1;
  for (uint32_t n = oldest; n <= last; ++n) ASSERT_TRUE(Seen(n)) << n;
  // Recording an older id again evicts the oldest survivor and nothing else.
  EXPECT_FALSE(Seen(oldest - 1));
  EXPECT_FALSE(Seen(oldest));
  for (uint32_t n = oldest + 2; n <= last; ++n) ASSERT_TRUE(Seen(n)) << n;
  EXPECT_TRUE(ring_.IndexIsConsistent());
}

}  // namespace
}  // namespace zanvor
