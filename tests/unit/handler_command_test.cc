#include "commands/handler_command.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "commands/multibyte_search.h"

namespace zanvor {
namespace {

// A double-byte code page in miniature: 0x81..0x9F lead.
bool TestLeadByte(uint8_t byte) { return byte >= 0x81 && byte <= 0x9F; }

// The lead bytes of code page 932.
bool Cp932LeadByte(uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || byte >= 0xE0; }

// Evaluates an expression of the form the builder emits ("literal" and
// CHR(n) joined by +) the way the host would, and checks the host's limits.
// With a lead-byte test it reads literals by characters, as a host in that
// code page does: a lead byte takes the byte after it, a quote included, so
// a literal ending on a lone lead byte never closes. Fails the test on
// anything else.
std::string Evaluate(const std::string& expression, LeadByteTest isLeadByte = nullptr) {
  std::string value;
  size_t i = 0;
  while (true) {
    if (expression.compare(i, 4, "CHR(") == 0) {
      const size_t close = expression.find(')', i);
      const int code = std::atoi(expression.substr(i + 4, close - i - 4).c_str());
      EXPECT_TRUE(code == 34 || code == 13 || code == 10 || code == 38 ||
                  (isLeadByte != nullptr && code < 256 && isLeadByte(static_cast<uint8_t>(code))))
          << expression;
      value.push_back(static_cast<char>(code));
      i = close + 1;
    } else {
      EXPECT_EQ(expression[i], '"') << expression;
      size_t close = i + 1;
      while (close < expression.size() && expression[close] != '"') {
        const bool lead =
            isLeadByte != nullptr && isLeadByte(static_cast<uint8_t>(expression[close]));
        close += lead ? 2 : 1;
      }
      if (close >= expression.size()) close = std::string::npos;
      EXPECT_NE(close, std::string::npos) << expression;
      if (close == std::string::npos) return value;
      const std::string literal = expression.substr(i + 1, close - i - 1);
      EXPECT_LE(literal.size(), kMaxHostLiteral);
      EXPECT_EQ(literal.find_first_of("\r\n&"), std::string::npos);
      value += literal;
      i = close + 1;
    }
    if (i == expression.size()) return value;
    EXPECT_EQ(expression[i], '+') << expression;
    ++i;
  }
}

std::string Command(const std::string& handler, const std::string& message) {
  std::string command = "untouched";
  EXPECT_TRUE(BuildHandlerCommand(handler, message, &command));
  return command;
}

TEST(HandlerCommandTest, ReplacesTheFirstKeywordWithTheQuotedMessage) {
  EXPECT_EQ(Command("DO OnEvt WITH <Msg>", "hello"), "DO OnEvt WITH \"hello\"");
  EXPECT_EQ(Command("=Show(<Msg>, '<Msg>')", "x"), "=Show(\"x\", '<Msg>')");
  EXPECT_EQ(Command("<Msg>", ""), "\"\"");
  EXPECT_EQ(Command("a<Msg><Msg>", "m"), "a\"m\"<Msg>");
  EXPECT_EQ(Command("<Msg>", "it's <Msg>"), "\"it's <Msg>\"");  // the message is not searched
}

TEST(HandlerCommandTest, QuotesAndLineBreaksBecomeChrCalls) {
  EXPECT_EQ(Command("=Log(<Msg>)", "say \"hi\""), "=Log(\"say \"+CHR(34)+\"hi\"+CHR(34))");
  EXPECT_EQ(HostStringExpression("\"a"), "CHR(34)+\"a\"");
  EXPECT_EQ(HostStringExpression("a\""), "\"a\"+CHR(34)");
  EXPECT_EQ(HostStringExpression("\"\""), "CHR(34)+CHR(34)");
  EXPECT_EQ(HostStringExpression("a\r\nb"), "\"a\"+CHR(13)+CHR(10)+\"b\"");
  EXPECT_EQ(HostStringExpression("\n"), "CHR(10)");
  EXPECT_EQ(HostStringExpression("\r"), "CHR(13)");
}

// The host would expand "&name" inside a literal: no literal holds an "&".
TEST(HandlerCommandTest, AmpersandsBecomeChrCalls) {
  EXPECT_EQ(Command("DO x WITH <Msg>", "AT&T"), "DO x WITH \"AT\"+CHR(38)+\"T\"");
  EXPECT_EQ(HostStringExpression("&lcPassword."), "CHR(38)+\"lcPassword.\"");
  EXPECT_EQ(HostStringExpression("&&"), "CHR(38)+CHR(38)");
  EXPECT_EQ(HostStringExpression("a&\""), "\"a\"+CHR(38)+CHR(34)");
  EXPECT_EQ(HostStringExpression("\x81&", Cp932LeadByte), "CHR(129)+CHR(38)");
}

TEST(HandlerCommandTest, LongRunsAreSplitInto254ByteLiterals) {
  const std::string q = "\"";
  for (const size_t length : {254u, 255u, 508u, 509u}) {
    const std::string run(length, 'r');
    const std::string expression = HostStringExpression(run);
    EXPECT_EQ(Evaluate(expression), run) << length;
    std::string expected;
    for (size_t at = 0; at < length; at += 254) {
      if (!expected.empty()) expected += "+";
      expected += q + run.substr(at, 254) + q;
    }
    EXPECT_EQ(expression, expected) << length;
  }
  // A quote before a long run: the run is still cut from its own start.
  EXPECT_EQ(HostStringExpression(q + std::string(255, 'r')),
            "CHR(34)+\"" + std::string(254, 'r') + "\"+\"r\"");
}

TEST(HandlerCommandTest, EveryBuiltExpressionEvaluatesToTheMessage) {
  const std::string pieces[] = {"\"",     "\r",       "\n",   "a",    std::string(253, 'b'),
                                "'",      "\x81",     "\xE0", "\xFC", "\x81\x82",
                                "\xE0\"", "\x9F\x81", "&",    "&x."};
  std::srand(7);
  for (int round = 0; round < 600; ++round) {
    std::string message;
    const int count = std::rand() % 8;
    for (int i = 0; i < count; ++i) message += pieces[std::rand() % 14];
    EXPECT_EQ(Evaluate(HostStringExpression(message)), message);
    EXPECT_EQ(Evaluate(HostStringExpression(message, Cp932LeadByte), Cp932LeadByte), message);
  }
}

TEST(HandlerCommandTest, NoLiteralEndsOnALoneLeadByte) {
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (!Cp932LeadByte(static_cast<uint8_t>(lead))) continue;
    const std::string b(1, static_cast<char>(lead));
    for (const std::string& message :
         {b, "a" + b, b + "\"", b + "\r", b + "\n", "x" + b + "\"y", b + b + b,
          std::string(253, 'a') + b, std::string(254, 'a') + b,
          std::string(300, 'a') + b + "\"z"}) {
      EXPECT_EQ(Evaluate(HostStringExpression(message, Cp932LeadByte), Cp932LeadByte), message)
          << lead;
    }
  }
  EXPECT_EQ(HostStringExpression("a\x81", Cp932LeadByte), "\"a\"+CHR(129)");
  EXPECT_EQ(HostStringExpression("\xFC\"", Cp932LeadByte), "CHR(252)+CHR(34)");
  EXPECT_EQ(HostStringExpression("\x81\x81", Cp932LeadByte), "\"\x81\x81\"");  // one character
  EXPECT_EQ(HostStringExpression("a\x81"), "\"a\x81\"");  // a single-byte page has no lead bytes
  std::string command;
  ASSERT_TRUE(BuildHandlerCommand("DO x WITH <Msg>", "\xE0", &command, Cp932LeadByte));
  EXPECT_EQ(command, "DO x WITH CHR(224)");
}

TEST(HandlerCommandTest, ADoubleByteCharacterIsNeverSplitBetweenLiterals) {
  const std::string q = "\"";
  const std::string message = std::string(253, 'a') + "\x81\x82" + "b";
  EXPECT_EQ(HostStringExpression(message),
            q + message.substr(0, 254) + q + "+" + q + message.substr(254) + q);
  EXPECT_EQ(HostStringExpression(message, TestLeadByte),
            q + message.substr(0, 253) + q + "+" + q + message.substr(253) + q);
}

TEST(HandlerCommandTest, NoCommandWithoutAHandlerOrItsKeyword) {
  std::string command = "untouched";
  EXPECT_FALSE(BuildHandlerCommand("", "m", &command));
  EXPECT_FALSE(BuildHandlerCommand("DO x WITH <msg>", "m", &command));
  EXPECT_FALSE(BuildHandlerCommand("<Msg", "m", &command));
  // After a lead byte, "<" is a trail byte and starts no keyword.
  EXPECT_FALSE(BuildHandlerCommand("\x81<Msg>", "m", &command, TestLeadByte));
  EXPECT_EQ(command, "untouched");
  EXPECT_TRUE(BuildHandlerCommand("\x81<Msg>", "m", &command));  // single-byte page
  EXPECT_TRUE(BuildHandlerCommand("\x81x<Msg>", "m", &command, TestLeadByte));
  EXPECT_EQ(command, "\x81x\"m\"");
}

TEST(MultibyteSearchTest, MatchesStartOnlyOnCharacterBoundaries) {
  EXPECT_EQ(FindMultibyte("ab<Msg>", "<Msg>", nullptr), 2u);
  EXPECT_EQ(FindMultibyte("\x81<Msg><Msg>", "<Msg>", TestLeadByte), 6u);
  EXPECT_EQ(FindMultibyte("\x81\x81<Msg>", "<Msg>", TestLeadByte), 2u);
  EXPECT_EQ(FindMultibyte("abc\x81", ":", TestLeadByte), std::string::npos);
  EXPECT_EQ(FindMultibyte("abc", "", nullptr), 0u);
}

TEST(MultibyteSearchTest, SplitsAtTheFirstColon) {
  std::string name;
  std::string message;
  SplitNameMessage("a:b:m", &name, &message);
  EXPECT_EQ(name, "a");
  EXPECT_EQ(message, "b:m");
  SplitNameMessage("orders:", &name, &message);
  EXPECT_EQ(name, "orders");
  EXPECT_EQ(message, "");
  SplitNameMessage("no colon", &name, &message);
  EXPECT_EQ(name, "");
  EXPECT_EQ(message, "no colon");
  SplitNameMessage(":lead", &name, &message);
  EXPECT_EQ(name, "");
  EXPECT_EQ(message, "lead");
  SplitNameMessage("n\x81:x:m", &name, &message);
  // A name cut inside a double-byte character still ends at the ":".
  EXPECT_EQ(name, "n\x81");
  EXPECT_EQ(message, "x:m");
}

}  // namespace
}  // namespace zanvor
