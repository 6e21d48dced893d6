#include "commands/pending_name_changes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry/ring_layout.h"

namespace zanvor {
namespace {

using Strings = std::vector<std::string>;
using Verdict = PendingNameChanges::AckVerdict;

class PendingNameChangesTest : public ::testing::Test {
 protected:
  // This instance's own change, sent now and stored at `position`.
  void Send(const std::string& name, InstanceCode code, uint16_t position, uint32_t now = 0) {
    ASSERT_TRUE(changes_.Prepare(name, code, code == kRegisterSubscriber, true, now));
    changes_.Sent(name, position);
  }
  // The times at which `name` comes due from `now` on, until nothing waits.
  std::vector<uint32_t> DueTimes(uint32_t now) {
    std::vector<uint32_t> times;
    while (!changes_.empty()) {
      now += changes_.WaitFrom(now);
      if (!changes_.TakeDue(now).empty()) times.push_back(now);
    }
    return times;
  }

  uint32_t givenUp_ = 0;
  PendingNameChanges changes_{&givenUp_};
};

TEST_F(PendingNameChangesTest, AChangeIsSentAgainAtDoublingDelaysThenGivenUp) {
  // Across the wrap of the tick count, too.
  for (const uint32_t start : {1000u, 0xFFFFFF00u}) {
    SCOPED_TRACE(start);
    givenUp_ = 0;
    Send("n", kRegisterSubscriber, 5, start);
    EXPECT_EQ(changes_.WaitFrom(start), kFirstRegisterRetryMs);
    EXPECT_TRUE(changes_.TakeDue(start + 99).empty());
    const std::vector<uint32_t> offsets = {100, 300, 700, 1500, 3100, 6300};
    std::vector<uint32_t> expected;
    for (const uint32_t offset : offsets) expected.push_back(start + offset);
    ASSERT_EQ(offsets.size(), static_cast<size_t>(kRegisterRetries));
    EXPECT_EQ(DueTimes(start), expected);
    EXPECT_EQ(givenUp_, 1u);  // at start + 12700, one doubled delay after the last
  }
}

TEST_F(PendingNameChangesTest, EachChangeKeepsItsOwnScheduleUntilAFreshSendRestartsIt) {
  Send("a", kRegisterSubscriber, 1, 0);
  Send("b", kRegisterSubscriber, 2, 50);
  const std::vector<PendingNameChanges::Change> due = changes_.TakeDue(100);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0].name, "a");
  EXPECT_EQ(due[0].code, kRegisterSubscriber);
  EXPECT_EQ(changes_.WaitFrom(100), 50u);  // b is due at 150, a at 300
  ASSERT_TRUE(changes_.Prepare("a", kRegisterSubscriber, true, false, 120));  // the timer's copy
  EXPECT_EQ(changes_.WaitFrom(140), 10u);
  ASSERT_TRUE(changes_.Prepare("b", kRegisterSubscriber, true, true, 140));  // a new command's
  EXPECT_EQ(changes_.WaitFrom(140), 100u);
  EXPECT_EQ(changes_.WaitFrom(400), 1u);  // overdue: at once
}

TEST_F(PendingNameChangesTest, OnlyAChangeTheTablesStillCallForIsSent) {
  // A withdrawal of a name held again, a registration of one no longer held.
  EXPECT_FALSE(changes_.Prepare("n", kUnregisterSubscriber, true, true, 0));
  EXPECT_FALSE(changes_.Prepare("n", kRegisterSubscriber, false, true, 0));
  EXPECT_TRUE(changes_.empty());

  // A registration waits; a withdrawal not called for leaves it waiting.
  Send("n", kRegisterSubscriber, 3);
  EXPECT_FALSE(changes_.Prepare("n", kUnregisterSubscriber, true, true, 0));
  EXPECT_EQ(changes_.Names(), Strings{"n"});
  // Once it is not called for itself, it is dropped, not given up.
  EXPECT_FALSE(changes_.Prepare("n", kRegisterSubscriber, false, false, 0));
  EXPECT_TRUE(changes_.empty());
  EXPECT_EQ(givenUp_, 0u);

  // A later change of a name replaces its earlier one, and the earlier
  // one's copies no longer count.
  Send("m", kRegisterSubscriber, 4);
  Send("m", kUnregisterSubscriber, 6);
  EXPECT_EQ(changes_.Names(), Strings{"m"});
  EXPECT_EQ(changes_.Acknowledge(4, 0, TextCheck("m"), false), Verdict::kNone);
  EXPECT_EQ(changes_.Acknowledge(6, 0, TextCheck("m"), false), Verdict::kConfirmed);
  EXPECT_TRUE(changes_.empty());
}

TEST_F(PendingNameChangesTest, TheFiftyFirstChangeGivesTheOldestUp) {
  for (int i = 0; i < static_cast<int>(kMaxAwaitingAck); ++i) {
    Send("n" + std::to_string(i), kRegisterSubscriber, static_cast<uint16_t>(i + 1));
  }
  EXPECT_EQ(givenUp_, 0u);
  Send("n1", kUnregisterSubscriber, 100);  // a name already waiting takes no place
  EXPECT_EQ(givenUp_, 0u);
  Send("new", kRegisterSubscriber, 101);
  EXPECT_EQ(givenUp_, 1u);
  const Strings names = changes_.Names();
  ASSERT_EQ(names.size(), kMaxAwaitingAck);
  EXPECT_EQ(names.front(), "n1");
  EXPECT_EQ(names.back(), "new");
}

// The server says what it did under the name it read: kRegisterSubscriber,
// kUnregisterSubscriber, or (an older server) 0.
TEST_F(PendingNameChangesTest, AnAcknowledgementConfirmsOnlyACopyOfTheChangeItself) {
  const uint32_t check = TextCheck("n");
  for (const InstanceCode code : {kRegisterSubscriber, kUnregisterSubscriber}) {
    SCOPED_TRACE(code);
    const uint32_t other =
        code == kRegisterSubscriber ? kUnregisterSubscriber : kRegisterSubscriber;
    const bool held = code == kRegisterSubscriber;
    for (uint16_t position = 10; position < 19; ++position) Send("n", code, position);
    // Eight copies are kept: the first one's answer no longer counts.
    EXPECT_EQ(changes_.Acknowledge(10, code, check, held), Verdict::kNone);
    EXPECT_EQ(changes_.Acknowledge(20, code, check, held), Verdict::kNone);      // never sent there
    EXPECT_EQ(changes_.Acknowledge(18, other, check, held), Verdict::kNone);     // not this change
    EXPECT_EQ(changes_.Acknowledge(18, code, check + 1, held), Verdict::kNone);  // another name
    EXPECT_EQ(changes_.Names(), Strings{"n"});
    EXPECT_EQ(changes_.Acknowledge(11, code, check, held), Verdict::kConfirmed);
    EXPECT_TRUE(changes_.empty());
    Send("n", code, 30);
    EXPECT_EQ(changes_.Acknowledge(30, 0, check, held), Verdict::kConfirmed);
    EXPECT_TRUE(changes_.empty());
  }
}

// With no change of the name waiting, the server acted on a name it read
// from a record that had been overwritten.
TEST_F(PendingNameChangesTest, AnAcknowledgementOfNoWaitingChangeSetsRightWhatTheServerDid) {
  const uint32_t check = TextCheck("n");
  struct Case {
    uint32_t done;
    bool held;
    Verdict verdict;
  };
  const Case cases[] = {
      {kUnregisterSubscriber, true, Verdict::kRegisterAgain},
      {kUnregisterSubscriber, false, Verdict::kNone},
      {kRegisterSubscriber, true, Verdict::kNone},  // a late copy of a confirmed name
      {kRegisterSubscriber, false, Verdict::kUndo},
      {0, true, Verdict::kNone},
      {0, false, Verdict::kUndo},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(changes_.Acknowledge(7, c.done, check, c.held), c.verdict)
        << "done " << c.done << " held " << c.held;
  }
  EXPECT_TRUE(changes_.empty());
}

TEST_F(PendingNameChangesTest, ANewServerGetsTheWaitingWithdrawalsAndNothingElseCounts) {
  Send("a", kUnregisterSubscriber, 1);
  Send("b", kRegisterSubscriber, 2);
  Send("c", kUnregisterSubscriber, 3);
  EXPECT_EQ(changes_.StartOver(), (Strings{"a", "c"}));
  EXPECT_TRUE(changes_.empty());
  EXPECT_EQ(changes_.Acknowledge(2, kRegisterSubscriber, TextCheck("b"), true), Verdict::kNone);
  EXPECT_EQ(givenUp_, 0u);
}

}  // namespace
}  // namespace zanvor
