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

TEST_F(RecentIdRingTest, ZeroIdCountsAsSeenUntilTwentyIdsAreRecorded) {
  EXPECT_TRUE(SeenZero());
  RecordFresh(100, 19);
  EXPECT_TRUE(SeenZero()) << "one initial zero entry is still left";
  RecordFresh(200, 1);
  EXPECT_FALSE(SeenZero()) << "all 20 initial entries are overwritten";
  EXPECT_TRUE(SeenZero());
}

TEST_F(RecentIdRingTest, IdReturningAfterTwentyOthersIsNewAfterNineteenIsNot) {
  RecordFresh(1, 1);
  RecordFresh(1000, 19);
  EXPECT_TRUE(Seen(1));
  RecordFresh(2000, 1);
  EXPECT_FALSE(Seen(1));
}

TEST_F(RecentIdRingTest, DuplicateDoesNotRefreshItsEntry) {
  RecordFresh(1, 1);
  RecordFresh(1000, 18);
  EXPECT_TRUE(Seen(1));  // would keep it for 20 more if it refreshed
  RecordFresh(2000, 1);
  EXPECT_TRUE(Seen(1));  // 19 others so far
  RecordFresh(3000, 1);
  EXPECT_FALSE(Seen(1));
}

TEST_F(RecentIdRingTest, KeepsExactlyTheLastTwentyAcrossManyWraps) {
  RecordFresh(1, 95);
  for (uint32_t n = 76; n <= 95; ++n) EXPECT_TRUE(Seen(n)) << n;
  // Recording 75 again evicts the oldest survivor, 76, and nothing else.
  EXPECT_FALSE(Seen(75));
  for (uint32_t n = 77; n <= 95; ++n) EXPECT_TRUE(Seen(n)) << n;
  EXPECT_TRUE(Seen(75));
  EXPECT_FALSE(Seen(76));
}

}  // namespace
}  // namespace zanvor
