#include "registry/ring_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "registry/message_buffer.h"
#include "unit/fake_ring.h"

namespace zanvor {
namespace {

class RingLayoutTest : public ::testing::Test {
 protected:
  // Through the real store and read sequence, on an in-memory section.
  uint32_t Store(const std::string& text) { return StoreText(ring_, text); }
  std::string Read(uint32_t position) {
    return ReadRecord(section_.data(), kSectionSize, position);
  }

  FakeRing ring_;
  std::vector<uint8_t>& section_ = ring_.section;
};

TEST_F(RingLayoutTest, FirstStoreInAFreshSectionGoesToFourAndWritesTheExactBytes) {
  EXPECT_EQ(Store("abc"), 4u);
  const uint8_t expected[] = {10, 0, 0, 0, 4, 0, 'a', 'b', 'c', 0};
  EXPECT_EQ(0, std::memcmp(section_.data(), expected, sizeof expected));
  EXPECT_EQ(Read(4), "abc");
  EXPECT_EQ(Store("de"), 10u);
  EXPECT_EQ(Read(10), "de");
  EXPECT_EQ(Read(4), "abc");
}

TEST(RingReserveTest, WrapsOnlyWhenTheRecordWouldRunPastTheEnd) {
  Reservation r{};
  ASSERT_TRUE(ReserveRecord(0, 4, &r));
  EXPECT_EQ(r.position, 4u);
  EXPECT_EQ(r.nextPosition, 10u);

  // Ends exactly at the end: stays, and the header becomes 16384.
  ASSERT_TRUE(ReserveRecord(16374, 8, &r));
  EXPECT_EQ(r.position, 16374u);
  EXPECT_EQ(r.nextPosition, 16384u);
  // One byte more does not fit and starts over at the front.
  ASSERT_TRUE(ReserveRecord(16374, 9, &r));
  EXPECT_EQ(r.position, 4u);
  EXPECT_EQ(r.nextPosition, 15u);
  // After a record that ended exactly at the end, the next one wraps.
  ASSERT_TRUE(ReserveRecord(16384, 1, &r));
  EXPECT_EQ(r.position, 4u);
}

TEST(RingReserveTest, RefusesWhatCannotFitAndSurvivesScribbledHeaders) {
  Reservation r{99, 99};
  EXPECT_TRUE(ReserveRecord(500, kMaxRecordText, &r));
  EXPECT_EQ(r.position, 4u);
  EXPECT_EQ(r.nextPosition, kSectionSize);
  r = {99, 99};
  EXPECT_FALSE(ReserveRecord(0, kMaxRecordText + 1, &r));
  EXPECT_FALSE(ReserveRecord(0, 0, &r));
  EXPECT_EQ(r.position, 99u);  // untouched on refusal

  for (const uint32_t header : {1u, 3u, 0xFFFFFFFFu, 0xFFFFFFF0u, 70000u}) {
    ASSERT_TRUE(ReserveRecord(header, 10, &r)) << header;
    EXPECT_EQ(r.position, 4u) << header;
  }
}

TEST_F(RingLayoutTest, PositionsThatCannotHoldARecordReadEmpty) {
  Store("abc");
  EXPECT_EQ(Read(0), "");
  EXPECT_EQ(Read(2), "");  // inside the header
  EXPECT_EQ(Read(kSectionSize), "");
  EXPECT_EQ(Read(0xFFFFFFFFu), "");
  EXPECT_EQ(ReadRecord(nullptr, 100, 4), "");
  EXPECT_EQ(RecordLength(section_.data(), kSectionSize, 4), 4);
  EXPECT_EQ(RecordLength(section_.data(), 5, 4), 0);  // field not inside the view
  EXPECT_EQ(RecordLength(section_.data(), kSectionSize, kSectionSize - 1), 0);
}

TEST_F(RingLayoutTest, AnOverwrittenRecordWithoutATerminatorReadsEmpty) {
  const uint32_t position = Store("hello");
  // A later writer put a long text over it: the old position now lies in
  // the middle of text bytes, with no NUL up to the end of the section.
  std::memset(section_.data() + position, 'x', kSectionSize - position);
  EXPECT_EQ(Read(position), "");
  // A length that is too short to reach the text's NUL also reads empty.
  const uint32_t second = Store("world");
  section_[second] = 3;
  EXPECT_EQ(Read(second), "");
  // A length that is too long still stops at the first NUL.
  section_[second] = 200;
  EXPECT_EQ(Read(second), "world");
}

TEST(RingReadTest, AHugeLengthNeverReadsPastTheViewOrTheSection) {
  // Exactly-sized heap buffers, so a read past their end is an ASan error.
  std::vector<uint8_t> view(12, 'y');
  view[4] = 0xFF;
  view[5] = 0xFF;
  EXPECT_EQ(ReadRecord(view.data(), 12, 4), "");
  view[11] = 0;
  EXPECT_EQ(ReadRecord(view.data(), 12, 4), "yyyyy");

  std::vector<uint8_t> whole(kSectionSize, 'z');
  whole[kSectionSize - 10] = 0xFF;
  whole[kSectionSize - 9] = 0xFF;
  // The caller claims a bigger view than the section; the section still bounds it.
  std::vector<uint8_t> bigger(kSectionSize + 100, 0);
  std::memcpy(bigger.data(), whole.data(), kSectionSize);
  EXPECT_EQ(ReadRecord(bigger.data(), kSectionSize + 100, kSectionSize - 10), "");
  EXPECT_EQ(ReadRecord(whole.data(), kSectionSize, kSectionSize - 10), "");
}

TEST_F(RingLayoutTest, TheLongestTextFillsTheSectionExactly) {
  const std::string longest(kMaxRecordText - 1, 'q');
  ASSERT_EQ(longest.size(), 16377u);
  Store("first");
  EXPECT_EQ(Store(longest), 4u);
  EXPECT_EQ(Read(4), longest);
  EXPECT_EQ(section_[0] | section_[1] << 8, 16384);
  EXPECT_EQ(Store(longest + "q"), 0u);  // 16379 with its NUL: refused
  EXPECT_EQ(Read(4), longest);          // and nothing was touched
}

TEST(TextCheckTest, IsFnv1aAndNeverZero) {
  EXPECT_EQ(TextCheck(""), 0x811c9dc5u);
  EXPECT_EQ(TextCheck("a"), 0xe40c292cu);
  EXPECT_EQ(TextCheck("foobar"), 0xbf9cf968u);
  EXPECT_NE(TextCheck("orders:42"), TextCheck("orders:43"));
  // FNV-1a of this text is 0, which would read as "not checked".
  EXPECT_EQ(TextCheck("bsvvj|"), 1u);
}

}  // namespace
}  // namespace zanvor
