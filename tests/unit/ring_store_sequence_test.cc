// The store and read sequence of the text ring against a section whose
// steps can fail, as Wine cannot make a real one fail.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry/message_buffer.h"
#include "registry/ring_layout.h"
#include "unit/fake_ring.h"

namespace zanvor {
namespace {

TEST(RingStoreSequenceTest, AMutexThatTimesOutStoresNothingAndMapsNothing) {
  FakeRing ring;
  ring.mutex = FakeRing::Mutex::kTimesOut;
  EXPECT_EQ(StoreText(ring, "a:b"), 0);
  EXPECT_EQ(ring.mapCalls, 0);
  EXPECT_EQ(ring.section, std::vector<uint8_t>(kSectionSize, 0));
}

TEST(RingStoreSequenceTest, ATextThatCannotFitIsRefusedBeforeTheLock) {
  FakeRing ring;
  EXPECT_EQ(StoreText(ring, std::string(kMaxRecordText, 'x')), 0);
  EXPECT_EQ(ring.lockCalls, 0);
  EXPECT_EQ(StoreText(ring, std::string(kMaxRecordText - 1, 'x')), kFirstRecord);
}

TEST(RingStoreSequenceTest, AFailedHeaderViewLeavesTheSectionAsItWas) {
  FakeRing ring;
  ring.failMap = 1;
  EXPECT_EQ(StoreText(ring, "a:b"), 0);
  EXPECT_EQ(ring.section, std::vector<uint8_t>(kSectionSize, 0));
  EXPECT_EQ(StoreText(ring, "a:b"), kFirstRecord);  // the mutex was given back
}

TEST(RingStoreSequenceTest, AFailedRecordViewSkipsItsBytesAndHandsOutNoPosition) {
  FakeRing ring;
  ring.failMap = 2;
  EXPECT_EQ(StoreText(ring, "abc"), 0);
  // The header already moved past the six reserved bytes, which stay blank.
  EXPECT_EQ(ring.section[0], 10);
  EXPECT_EQ(ring.section[kFirstRecord], 0);
  EXPECT_EQ(StoreText(ring, "de"), 10);
  EXPECT_EQ(ReadText(ring, 10), "de");
  EXPECT_EQ(ReadText(ring, kFirstRecord), "");
}

// A name's record overwritten by a longer text: read as a whole record it is
// gone, where a plain read finds the longer text's tail.
TEST(RingStoreSequenceTest, AWholeRecordReadRefusesTheTailOfALongerRecord) {
  FakeRing ring;
  const uint16_t first = StoreText(ring, "aa");
  const uint16_t name = StoreText(ring, "orders");
  EXPECT_EQ(ReadText(ring, name, true), "orders");
  ring.section[0] = static_cast<uint8_t>(first);  // the ring wraps
  ring.section[1] = 0;
  StoreText(ring, std::string(40, 'w'));
  EXPECT_EQ(ReadText(ring, name), std::string(40 - (name - first), 'w'));
  EXPECT_EQ(ReadText(ring, name, true), "");
}

TEST(RingStoreSequenceTest, AReadWhoseFirstOrSecondViewFailsGivesTheEmptyText) {
  FakeRing ring;
  const uint16_t at = StoreText(ring, "orders:42");
  ASSERT_EQ(at, kFirstRecord);
  ring.failMap = 1;
  EXPECT_EQ(ReadText(ring, at), "");
  ring.failMap = 2;
  EXPECT_EQ(ReadText(ring, at), "");
  EXPECT_EQ(ReadText(ring, at), "orders:42");
}

}  // namespace
}  // namespace zanvor
