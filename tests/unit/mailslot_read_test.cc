#include "messaging/mailslot_read.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "unit/fake_mailslot.h"

namespace zanvor {
namespace {

using Bytes = std::vector<uint8_t>;

class MailslotReadTest : public ::testing::Test {
 protected:
  // Reads into a heap buffer of exactly `capacity` bytes (ASan catches any
  // write past it), pre-filled with 0xCC.
  MailslotRead ReadOnce(uint32_t capacity = 512) {
    buffer_.assign(capacity, 0xCC);
    size_ = capacity;
    return ReadMailslotMessage(mailslot_, buffer_.data(), &size_, &reportReadErrors_,
                               [this](const std::string& text) {
                                 shown_.push_back(text);
                                 flagWhenShown_.push_back(reportReadErrors_);
                               });
  }
  Bytes Read() const { return Bytes(buffer_.begin(), buffer_.begin() + size_); }

  FakeMailslot mailslot_;
  Bytes buffer_;
  uint32_t size_ = 0;
  bool reportReadErrors_ = true;
  std::vector<std::string> shown_;
  std::vector<bool> flagWhenShown_;
};

TEST_F(MailslotReadTest, NoMailslotIsAnErrorWithNothingShown) {
  mailslot_.hasMailslot = false;
  EXPECT_EQ(ReadOnce(), MailslotRead::kError);
  EXPECT_TRUE(shown_.empty());
  EXPECT_TRUE(reportReadErrors_) << "the timer still reports this one";
  EXPECT_EQ(mailslot_.nextSizeCalls, 0);
}

TEST_F(MailslotReadTest, EmptyMailslotGivesSizeZeroWithoutReading) {
  EXPECT_EQ(ReadOnce(), MailslotRead::kEmpty);
  EXPECT_EQ(size_, 0u);
  EXPECT_EQ(mailslot_.readCalls, 0);
}

TEST_F(MailslotReadTest, DatagramsComeOutOneAtATimeInArrivalOrder) {
  mailslot_.Push({1, 2, 3});
  mailslot_.Push(Bytes(40, 7));
  ASSERT_EQ(ReadOnce(), MailslotRead::kDatagram);
  EXPECT_EQ(Read(), (Bytes{1, 2, 3}));
  ASSERT_EQ(ReadOnce(), MailslotRead::kDatagram);
  EXPECT_EQ(Read(), Bytes(40, 7));
  EXPECT_EQ(ReadOnce(), MailslotRead::kEmpty);
}

TEST_F(MailslotReadTest, DatagramOfExactlyTheCapacityIsRead) {
  mailslot_.Push(Bytes(64, 9));
  ASSERT_EQ(ReadOnce(64), MailslotRead::kDatagram);
  EXPECT_EQ(Read(), Bytes(64, 9));
}

TEST_F(MailslotReadTest, OversizedDatagramIsDroppedWithoutTouchingTheBuffer) {
  mailslot_.Push(Bytes(65, 9));
  EXPECT_EQ(ReadOnce(64), MailslotRead::kDropped);
  EXPECT_EQ(size_, 0u);
  EXPECT_EQ(buffer_, Bytes(64, 0xCC));
  EXPECT_EQ(mailslot_.Waiting(), 0u) << "a short read would leave it at the head for ever";
  EXPECT_TRUE(shown_.empty());
}

TEST_F(MailslotReadTest, OversizedDatagramFollowedByAGoodOneStillDeliversTheGoodOne) {
  mailslot_.Push(Bytes(5000, 1));
  mailslot_.Push(Bytes(300, 2));
  EXPECT_EQ(ReadOnce(), MailslotRead::kDropped);
  ASSERT_EQ(ReadOnce(), MailslotRead::kDatagram);
  EXPECT_EQ(Read(), Bytes(300, 2));
  EXPECT_EQ(ReadOnce(), MailslotRead::kEmpty);
  EXPECT_TRUE(shown_.empty());
}

TEST_F(MailslotReadTest, GetMailslotInfoFailureIsShownOnceWithTheFlagAlreadyCleared) {
  mailslot_.failNextSize = true;
  EXPECT_EQ(ReadOnce(), MailslotRead::kError);
  EXPECT_EQ(ReadOnce(), MailslotRead::kError);
  ASSERT_EQ(shown_, std::vector<std::string>{"GetMailslotInfo error."});
  EXPECT_FALSE(flagWhenShown_[0]) << "a box pumps messages; a nested read must not show another";
  EXPECT_FALSE(reportReadErrors_);
}

TEST_F(MailslotReadTest, ReadFileFailureIsShownOnce) {
  mailslot_.Push({1, 2, 3});
  mailslot_.failRead = true;
  EXPECT_EQ(ReadOnce(), MailslotRead::kError);
  ASSERT_EQ(shown_, std::vector<std::string>{"ReadFile error."});
  EXPECT_FALSE(flagWhenShown_[0]);
  mailslot_.failRead = false;
  mailslot_.failNextSize = true;
  EXPECT_EQ(ReadOnce(), MailslotRead::kError);
  EXPECT_EQ(shown_.size(), 1u) << "one box per load for all read failures";
}

TEST_F(MailslotReadTest, FailedReadOfAnOversizedDatagramIsAReadFileError) {
  mailslot_.Push(Bytes(600, 1));
  mailslot_.failRead = true;
  EXPECT_EQ(ReadOnce(), MailslotRead::kError);
  EXPECT_EQ(shown_, std::vector<std::string>{"ReadFile error."});
  EXPECT_EQ(buffer_, Bytes(512, 0xCC));
}

TEST_F(MailslotReadTest, ErrorsAfterTheFlagWasClearedElsewhereShowNothing) {
  reportReadErrors_ = false;
  mailslot_.failNextSize = true;
  EXPECT_EQ(ReadOnce(), MailslotRead::kError);
  EXPECT_TRUE(shown_.empty());
}

}  // namespace
}  // namespace zanvor
