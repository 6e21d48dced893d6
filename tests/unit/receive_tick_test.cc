#include "messaging/receive_tick.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "unit/fake_mailslot.h"

namespace zanvor {
namespace {

using Bytes = std::vector<uint8_t>;
using Text = std::pair<std::string, std::string>;  // name, message
using Texts = std::vector<Text>;

class FakeSink : public ReceiveSink {
 public:
  void DispatchReceived(const std::string& name, const std::string& message) override {
    dispatched.emplace_back(name, message);
  }
  void ShowErrorBox(const std::string& text) override { boxes.push_back(text); }
  uint32_t LastError() override {
    ++lastErrorCalls;
    return error;
  }

  Texts dispatched;
  std::vector<std::string> boxes;
  uint32_t error = 6;
  int lastErrorCalls = 0;
};

class ReceiveTickTest : public ::testing::Test {
 protected:
  // Queues the packet of `payload` under packet id number `id`.
  void Post(uint32_t id, const std::string& payload) {
    mailslot_.Push(PackDatagram(TestId(id), payload, 1000u + id));
  }
  void PostRaw(Bytes datagram) { mailslot_.Push(std::move(datagram)); }
  // Runs one tick and returns what it dispatched.
  Texts Tick() {
    sink_.dispatched.clear();
    RunReceiveTick(mailslot_, now_, sink_, state_);
    return sink_.dispatched;
  }

  FakeMailslot mailslot_;
  FakeSink sink_;
  ReceiveState state_;
  uint32_t now_ = 1000;  // the receiver's monotonic clock, in ms
};

TEST_F(ReceiveTickTest, DeliversTextsSplitAtTheFirstColonInArrivalOrder) {
  Post(1, "news:hello");
  Post(2, "prices:a:b::c");
  Post(3, "x:");
  EXPECT_EQ(Tick(), (Texts{{"news", "hello"}, {"prices", "a:b::c"}, {"x", ""}}));
  EXPECT_EQ(mailslot_.Waiting(), 0u);
  EXPECT_TRUE(sink_.boxes.empty());
}

TEST_F(ReceiveTickTest, LeadingColonGivesAnEmptyNameThatIsStillDispatched) {
  Post(1, ":hello");
  EXPECT_EQ(Tick(), (Texts{{"", "hello"}}));
}

TEST_F(ReceiveTickTest, TextWithoutAColonIsDroppedAndTheTickGoesOn) {
  Post(1, "no colon here");
  Post(2, "a:b");
  EXPECT_EQ(Tick(), (Texts{{"a", "b"}}));
}

TEST_F(ReceiveTickTest, NulInsideThePayloadCutsNameOrMessageShort) {
  Post(1, std::string("na\0me:msg", 9));
  Post(2, std::string("name:ms\0g:x", 11));
  Post(3, std::string("\0:m", 3));
  EXPECT_EQ(Tick(), (Texts{{"na", "msg"}, {"name", "ms"}, {"", "m"}}));
}

TEST_F(ReceiveTickTest, DuplicateIsDroppedAndTheTickGoesOn) {
  Post(1, "a:first");
  Post(1, "a:first");
  Post(2, "a:third");
  EXPECT_EQ(Tick(), (Texts{{"a", "first"}, {"a", "third"}}));
  EXPECT_EQ(mailslot_.Waiting(), 0u);
}

// A burst of a hundred arriving on one path and then again on the other is
// delivered once.
TEST_F(ReceiveTickTest, ABurstFollowedByItsCopiesIsDeliveredOnce) {
  for (uint32_t id = 1; id <= 100; ++id) Post(id, "n:" + std::to_string(id));
  for (uint32_t id = 1; id <= 100; ++id) Post(id, "n:" + std::to_string(id));
  EXPECT_EQ(Tick().size(), 100u);
  EXPECT_TRUE(Tick().empty());
  EXPECT_EQ(mailslot_.Waiting(), 0u);
}

// The mailslot copies of a sustained burst arrive after thousands of newer
// posts came over UDP: still copies, for 30 s.
TEST_F(ReceiveTickTest, ACopyAfterTwoThousandNewerPostsIsDroppedForThirtySeconds) {
  Post(1, "n:first");
  EXPECT_EQ(Tick().size(), 1u);
  for (uint32_t id = 2; id <= 2001; ++id) {
    std::vector<uint8_t> datagram = PackDatagram(TestId(id), "n:" + std::to_string(id), id);
    ReceiveDatagram(datagram.data(), static_cast<uint32_t>(datagram.size()), now_, sink_, state_);
  }
  now_ += RecentIdRing::kRememberMs - 1;
  Post(1, "n:first");
  EXPECT_TRUE(Tick().empty()) << "taken twice";
  now_ += 1;
  Post(1, "n:first");
  EXPECT_EQ(Tick(), (Texts{{"n", "first"}})) << "a replay after 30 s runs again";
  EXPECT_EQ(state_.counters.duplicates, 1u);
}

// Junk, valid in size but not in its check byte, takes no place in the
// filter, however much of it comes between a post and its copy.
TEST_F(ReceiveTickTest, JunkPushesNoIdOutOfTheFilter) {
  Post(1, "n:real");
  EXPECT_EQ(Tick().size(), 1u);
  for (uint32_t i = 0; i < 70000; ++i) {
    std::vector<uint8_t> junk = PackDatagram(TestId(100000 + i), "n:junk", i);
    junk.back() ^= 0x21;
    ReceiveDatagram(junk.data(), static_cast<uint32_t>(junk.size()), now_, sink_, state_);
  }
  EXPECT_EQ(sink_.dispatched.size(), 1u) << "no junk delivered";
  EXPECT_EQ(state_.recentIds.size(), 1u);
  Post(1, "n:real");
  EXPECT_TRUE(Tick().empty());
  EXPECT_EQ(state_.counters.bad, 70000u);
}

TEST_F(ReceiveTickTest, ChangedIdOnlyMakesANewMessage) {
  Bytes packet = PackDatagram(TestId(1), "a:same", 55);
  PostRaw(packet);
  packet[3] ^= 0x40;
  PostRaw(packet);
  EXPECT_EQ(Tick(), (Texts{{"a", "same"}, {"a", "same"}}));
}

TEST_F(ReceiveTickTest, TheAllZeroIdIsDeliveredOnceRightAfterLoad) {
  PostRaw(PackDatagram(Bytes(16, 0), "a:zero", 9));
  PostRaw(PackDatagram(Bytes(16, 0), "a:zero", 9));
  Post(1, "a:behind");
  EXPECT_EQ(Tick(), (Texts{{"a", "zero"}, {"a", "behind"}}));
}

TEST_F(ReceiveTickTest, AHundredDatagramsPerTick) {
  for (uint32_t id = 1; id <= 150; ++id) Post(id, "n:" + std::to_string(id));
  const Texts first = Tick();
  ASSERT_EQ(first.size(), 100u);
  EXPECT_EQ(first.back(), (Text{"n", "100"}));
  const Texts second = Tick();
  ASSERT_EQ(second.size(), 50u);
  EXPECT_EQ(second.front(), (Text{"n", "101"}));
  EXPECT_TRUE(Tick().empty());
}

TEST_F(ReceiveTickTest, SeventeenToTwentyOneByteDatagramsYieldNothingAndRecordNoId) {
  for (uint32_t size = 17; size <= 21; ++size) {
    Bytes datagram = TestId(size);
    datagram.resize(size, ':');
    PostRaw(datagram);
  }
  Post(1, "a:after the short ones");
  EXPECT_EQ(Tick(), (Texts{{"a", "after the short ones"}}));
  EXPECT_EQ(state_.counters.bad, 5u);

  // Too short to carry a check byte, so id 19 was not recorded.
  Post(19, "a:behind");
  EXPECT_EQ(Tick(), (Texts{{"a", "behind"}}));
}

TEST_F(ReceiveTickTest, BadCheckByteDropsOnlyThatDatagram) {
  Post(1, "a:one");
  Bytes bad = PackDatagram(TestId(2), "a:two", 77);
  bad.back() ^= 0x10;
  PostRaw(bad);
  Post(3, "a:three");
  EXPECT_EQ(Tick(), (Texts{{"a", "one"}, {"a", "three"}}));
  // Its id was not recorded: the good packet under it is delivered.
  PostRaw(PackDatagram(TestId(2), "a:two", 77));
  EXPECT_EQ(Tick(), (Texts{{"a", "two"}}));
}

TEST_F(ReceiveTickTest, DatagramsOfAWrongSizeAreDroppedAndTheTickGoesOn) {
  PostRaw(Bytes());
  PostRaw(Bytes(1, 'x'));
  PostRaw(TestId(1));
  Post(2, "a:same tick");
  EXPECT_EQ(Tick(), (Texts{{"a", "same tick"}}));
  EXPECT_EQ(mailslot_.Waiting(), 0u);
}

TEST_F(ReceiveTickTest, DatagramSizeLimitsAre415And416) {
  const std::string longest = "n:" + std::string(415 - 21 - 2, 'm');
  Post(1, longest);
  Post(2, longest + "m");  // 416 bytes: dropped unread
  Post(3, "a:same tick");
  const Texts first = Tick();
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].second.size(), 415u - 21u - 2u);
  EXPECT_EQ(first[1], (Text{"a", "same tick"}));
}

TEST_F(ReceiveTickTest, DatagramTooLargeForTheBufferIsDroppedAndTheTickGoesOn) {
  Post(1, "a:before");
  PostRaw(Bytes(513, 'x'));
  Post(2, "a:after");
  EXPECT_EQ(Tick(), (Texts{{"a", "before"}, {"a", "after"}}));
  EXPECT_TRUE(sink_.boxes.empty());
}

TEST_F(ReceiveTickTest, DroppedDatagramsCountTowardsTheHundred) {
  for (int i = 0; i < 99; ++i) PostRaw(Bytes(600, 'x'));
  Post(1, "a:last of the tick");
  Post(2, "a:next tick");
  EXPECT_EQ(Tick(), (Texts{{"a", "last of the tick"}}));
  EXPECT_EQ(Tick(), (Texts{{"a", "next tick"}}));
}

TEST_F(ReceiveTickTest, IdleTickAsksOnceAndReadsNothing) {
  EXPECT_TRUE(Tick().empty());
  EXPECT_EQ(mailslot_.nextSizeCalls, 1);
  EXPECT_EQ(mailslot_.readCalls, 0);
  EXPECT_TRUE(sink_.boxes.empty());
}

TEST_F(ReceiveTickTest, MissingMailslotShowsTheTimersTextOncePerLoad) {
  mailslot_.hasMailslot = false;
  sink_.error = 6;
  Tick();
  Tick();
  EXPECT_EQ(sink_.boxes, std::vector<std::string>{"Unable to read data. Error: 6."});
  EXPECT_EQ(sink_.lastErrorCalls, 1);
  EXPECT_FALSE(state_.reportReadErrors);
}

TEST_F(ReceiveTickTest, ReadErrorWithItsOwnTextShowsNoSecondBox) {
  Post(1, "a:waits");
  mailslot_.failRead = true;
  EXPECT_TRUE(Tick().empty());
  EXPECT_EQ(sink_.boxes, std::vector<std::string>{"ReadFile error."});
  EXPECT_EQ(sink_.lastErrorCalls, 0);
  mailslot_.hasMailslot = false;
  Tick();
  EXPECT_EQ(sink_.boxes.size(), 1u);
}

TEST_F(ReceiveTickTest, ReadErrorEndsTheTickAfterEarlierDatagrams) {
  // Fails every read after the first; GetMailslotInfo keeps working.
  class FailSecondRead : public FakeMailslot {
   public:
    bool Read(uint8_t* buffer, uint32_t request, uint32_t* bytesRead) override {
      failRead = readCalls >= 1;
      return FakeMailslot::Read(buffer, request, bytesRead);
    }
  } failing;
  failing.Push(PackDatagram(TestId(1), "a:one", 5));
  failing.Push(PackDatagram(TestId(2), "a:two", 5));
  RunReceiveTick(failing, now_, sink_, state_);
  EXPECT_EQ(sink_.dispatched, (Texts{{"a", "one"}}));
  EXPECT_EQ(sink_.boxes, std::vector<std::string>{"ReadFile error."});
  EXPECT_EQ(failing.Waiting(), 1u);
}

TEST_F(ReceiveTickTest, NegativeErrorNumbersPrintAsSigned) {
  mailslot_.hasMailslot = false;
  sink_.error = 0x80070005u;
  Tick();
  EXPECT_EQ(sink_.boxes, std::vector<std::string>{"Unable to read data. Error: -2147024891."});
}

// The server unloads between two copies of a post; the instance that takes
// the role over gets the late copy, and drops it, from the ids the first
// server left in the machine's block. Only ids that were delivered go there.
TEST_F(ReceiveTickTest, TheNextServerDropsACopyOfWhatTheLastOneDelivered) {
  std::vector<uint8_t> block(SharedRecentIds::kBytes);
  state_.machineIds = SharedRecentIds(block.data());
  Post(1, "news:once");
  Post(1, "news:once");
  Bytes junk = PackDatagram(TestId(2), "news:junk", 1);
  junk.back() ^= 1;
  PostRaw(junk);
  Post(3, "no colon");
  ASSERT_EQ(Tick(), (Texts{{"news", "once"}}));

  ReceiveState next;
  next.machineIds = SharedRecentIds(block.data());
  now_ += 1000;
  EXPECT_EQ(next.machineIds.CopyInto(next.recentIds, now_), 2);  // ids 1 and 3
  Post(1, "news:once");
  Post(2, "news:junk");
  sink_.dispatched.clear();
  RunReceiveTick(mailslot_, now_, sink_, next);
  EXPECT_EQ(sink_.dispatched, (Texts{{"news", "junk"}}));
}

}  // namespace
}  // namespace zanvor
