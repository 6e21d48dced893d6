// The tools' text helpers: JSON strings, plain escaped lines, single-line
// error texts, and line splitting across arbitrary read boundaries.
#include "common/text.h"

#include <string>
#include <vector>

#include "common/line_splitter.h"
#include "gtest/gtest.h"

namespace zanvor {
namespace {

TEST(TextTest, APlainLineShowsControlBytesEscapedAndTheCodePagesCharactersAsTheyAre) {
  EXPECT_EQ(EscapeForLine("say \"hi\"\r\nback\\slash\ttab"),
            "say \\\"hi\\\"\\r\\nback\\\\slash\\ttab");
  EXPECT_EQ(EscapeForLine(std::string("a\0b\x1b\x7f", 5)), "a\\x00b\\x1B\\x7F");
  EXPECT_EQ(EscapeForLine("caf\xE9"), "caf\xE9");
}

TEST(TextTest, LibraryErrorsBecomeOneLine) {
  EXPECT_EQ(SingleLine("Unable to send the message.\nError: 3025\n"),
            "Unable to send the message. Error: 3025");
  EXPECT_EQ(SingleLine("a\r\n\r\nb"), "a b");
}

// Reads a JSON string literal the way a JSON reader does, giving each code
// point as one byte; fails the test on anything a reader would refuse.
std::string DecodeJsonString(const std::string& literal) {
  std::string out;
  EXPECT_GE(literal.size(), 2u);
  EXPECT_EQ(literal.front(), '"');
  EXPECT_EQ(literal.back(), '"');
  for (size_t i = 1; i + 1 < literal.size(); ++i) {
    const char c = literal[i];
    if (c != '\\') {
      EXPECT_NE(c, '"') << "unescaped quote at " << i;
      out += c;
      continue;
    }
    const char e = literal[++i];
    const std::string simple = "\"\\/bfnrt";
    const std::string meaning = "\"\\/\b\f\n\r\t";
    if (simple.find(e) != std::string::npos) {
      out += meaning[simple.find(e)];
    } else if (e == 'u' && i + 4 < literal.size()) {
      const unsigned long code = std::stoul(literal.substr(i + 1, 4), nullptr, 16);
      EXPECT_LE(code, 0xFFu);
      out += static_cast<char>(code);
      i += 4;
    } else {
      ADD_FAILURE() << "bad escape \\" << e;
    }
  }
  return out;
}

// JSON forbids raw control bytes, and bytes from 0x80 would be read as part
// of a UTF-8 sequence, so both must be escaped.
TEST(JsonTextTest, EveryByteReadsBackAsOneCodePointFromAsciiText) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string literal = JsonString(all);
  for (const char c : literal) {
    const unsigned char u = static_cast<unsigned char>(c);
    EXPECT_TRUE(u >= 0x20 && u <= 0x7F) << "raw byte " << static_cast<int>(u);
  }
  EXPECT_EQ(DecodeJsonString(literal), all);
  EXPECT_EQ(JsonString("\xc8"), R"("\u00c8")");
}

TEST(LineSplitterTest, OnlyLfEndsALineAndOneCrBeforeItIsDropped) {
  LineSplitter splitter;
  std::vector<std::string> lines;
  const std::string bytes = "lf\ncrlf\r\nbare\rcr\n\ntwo\r\r\n";
  splitter.Feed(bytes.data(), bytes.size(), &lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"lf", "crlf", "bare\rcr", "", "two\r"}));
  splitter.Finish(&lines);
  EXPECT_EQ(lines.size(), 5u);  // nothing was pending
}

TEST(LineSplitterTest, APartialLineWaitsForItsEndOrForFinish) {
  LineSplitter splitter;
  std::vector<std::string> lines;
  splitter.Feed("par", 3, &lines);
  splitter.Feed("tial\r", 5, &lines);
  EXPECT_TRUE(lines.empty());
  splitter.Feed("\nlast\r", 6, &lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"partial"}));
  splitter.Finish(&lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"partial", "last"}));
}

}  // namespace
}  // namespace zanvor
