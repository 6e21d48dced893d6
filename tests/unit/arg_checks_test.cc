#include "commands/arg_checks.h"

#include <gtest/gtest.h>

#include <string>

namespace zanvor {
namespace {

bool TestLeadByte(uint8_t byte) { return byte >= 0x81 && byte <= 0x9F; }

constexpr char kNameEmpty[] = "Subscription name is empty.";
constexpr char kNameTooLong[] = "Subscription name is too long. 64 chars is max.";
constexpr char kNameColon[] = "Subscription name cannot contain a colon.";
constexpr char kNoKeyword[] = "Function does not have <Msg> keyword.";
constexpr char kHandlerTooLong[] = "Function name is too long. 64 chars is max.";
constexpr char kMessageTooLong[] = "Message is too long. 300 chars is max.";

TEST(ArgChecksTest, SubscriptionNamesHoldOneTo64Bytes) {
  EXPECT_EQ(CheckSubscriptionName(""), kNameEmpty);
  EXPECT_EQ(CheckSubscriptionName("a"), "");
  EXPECT_EQ(CheckSubscriptionName(std::string(64, 'n')), "");
  EXPECT_EQ(CheckSubscriptionName(std::string(65, 'n')), kNameTooLong);
}

TEST(ArgChecksTest, HandlersNeedTheKeywordBeforeTheirLengthCounts) {
  const std::string handler64 = "DO x WITH <Msg>" + std::string(49, ' ');
  ASSERT_EQ(handler64.size(), 64u);
  EXPECT_EQ(CheckHandler(handler64), "");
  EXPECT_EQ(CheckHandler(handler64 + " "), kHandlerTooLong);
  EXPECT_EQ(CheckHandler(std::string(80, 'x')), kNoKeyword);
  EXPECT_EQ(CheckHandler("DO x WITH <msg>"), kNoKeyword);
  EXPECT_EQ(CheckHandler(""), kNoKeyword);
  EXPECT_EQ(CheckHandler("\x81<Msg>", TestLeadByte), kNoKeyword);
  EXPECT_EQ(CheckHandler("\x81<Msg>"), "");
}

TEST(ArgChecksTest, TheMessageLimitCountsTheMessagesOwnBytes) {
  std::string text = "unchanged";
  EXPECT_EQ(CheckPostText("orders", std::string(300, 'm'), &text), "");
  EXPECT_EQ(text, "orders:" + std::string(300, 'm'));
  EXPECT_EQ(CheckPostText("orders", "", &text), "");
  EXPECT_EQ(text, "orders:");

  text = "unchanged";
  EXPECT_EQ(CheckPostText("orders", std::string(301, 'm'), &text), kMessageTooLong);
  EXPECT_EQ(text, "unchanged");
  // Colons in the message count as any byte.
  EXPECT_EQ(CheckPostText("orders", "a:" + std::string(299, 'm'), &text), kMessageTooLong);
  EXPECT_EQ(text, "unchanged");
}

// In a double-byte code page "b" 0x81 is "b" and a cut character, and a
// search by characters would take the ":" after it as its trail byte. The
// limits hold for such a name all the same: a colon inside a long message
// does not shorten what is counted.
TEST(ArgChecksTest, ANameEndingInALeadByteGetsTheSameLimits) {
  std::string text;
  EXPECT_EQ(CheckPostText("b\x81", std::string(300, 'm'), &text), "");
  EXPECT_EQ(text, "b\x81:" + std::string(300, 'm'));
  EXPECT_EQ(CheckPostText("b\x81", std::string(301, 'm'), &text), kMessageTooLong);
  const std::string hidden = std::string(700, 'm') + ":" + std::string(299, 'm');
  EXPECT_EQ(CheckPostText("A\x81", hidden, &text), kMessageTooLong);
  EXPECT_EQ(CheckPostText(std::string(63, 'n') + "\x81", hidden, &text), kMessageTooLong);
  EXPECT_EQ(text, "b\x81:" + std::string(300, 'm'));
}

TEST(ArgChecksTest, ANameWithAColonIsRefusedAfterTheEmptyAndLengthChecks) {
  std::string text = "unchanged";
  EXPECT_EQ(CheckSubscribableName("a:b"), kNameColon);
  EXPECT_EQ(CheckSubscribableName(":"), kNameColon);
  EXPECT_EQ(CheckSubscribableName("ab"), "");
  EXPECT_EQ(CheckSubscribableName(""), kNameEmpty);
  EXPECT_EQ(CheckSubscribableName(std::string(65, ':')), kNameTooLong);
  // Byte by byte: a ":" after a lead byte is refused too.
  EXPECT_EQ(CheckPostText("\x81:b", "m", &text), kNameColon);
  EXPECT_EQ(CheckPostText("a:b", "m", &text), kNameColon);
  EXPECT_EQ(text, "unchanged");
  EXPECT_EQ(CheckSubscriptionName("a:b"), "");  // what UNSUBSCRIBE checks
}

TEST(ArgChecksTest, NameChecksComeBeforeTheMessageCheck) {
  std::string text;
  EXPECT_EQ(CheckPostText("", std::string(500, 'm'), &text), kNameEmpty);
  EXPECT_EQ(CheckPostText(std::string(65, 'n'), std::string(500, 'm'), &text), kNameTooLong);
}

}  // namespace
}  // namespace zanvor
