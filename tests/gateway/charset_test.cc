#include "gateway/charset.h"

#include <gtest/gtest.h>

namespace zanvor {
namespace {

TEST(CharsetTest, Windows1252ConvertsEveryDefinedByteBothWays) {
  std::string error;
  std::unique_ptr<Charset> charset = OpenCharset(kDefaultCharset, &error);
  ASSERT_NE(charset, nullptr) << error;
  std::string utf8;
  std::string back;
  ASSERT_TRUE(charset->ToUtf8("caf\xE9 \x80", &utf8));
  EXPECT_EQ(utf8, "caf\xC3\xA9 \xE2\x82\xAC");  // é and the euro sign
  int undefined = 0;
  for (int byte = 1; byte < 256; ++byte) {
    const std::string text(1, static_cast<char>(byte));
    if (!charset->ToUtf8(text, &utf8)) {
      ++undefined;
      continue;
    }
    ASSERT_TRUE(charset->FromUtf8(utf8, &back)) << byte;
    EXPECT_EQ(back, text);
  }
  EXPECT_EQ(undefined, 5);  // 0x81, 0x8D, 0x8F, 0x90, 0x9D
  // A failed text leaves nothing behind for the next one.
  EXPECT_FALSE(charset->ToUtf8("a\x81", &utf8));
  ASSERT_TRUE(charset->ToUtf8("b", &utf8));
  EXPECT_EQ(utf8, "b");
}

TEST(CharsetTest, WhatHasNoCounterpartDoesNotConvert) {
  std::string error;
  std::unique_ptr<Charset> charset = OpenCharset("windows-1252", &error);
  ASSERT_NE(charset, nullptr);
  std::string text;
  EXPECT_FALSE(charset->FromUtf8("\xE6\x97\xA5", &text));  // a CJK character
  EXPECT_FALSE(charset->FromUtf8("\xC3", &text));          // cut short
  EXPECT_FALSE(charset->FromUtf8("\xFF\xFE", &text));      // not UTF-8

  std::unique_ptr<Charset> japanese = OpenCharset("CP932", &error);
  ASSERT_NE(japanese, nullptr) << error;
  ASSERT_TRUE(japanese->FromUtf8("\xE6\x97\xA5", &text));
  EXPECT_EQ(text, "\x93\xFA");
}

TEST(CharsetTest, AnUnknownCharsetOrAnIconvSuffixIsRefused) {
  for (const char* name : {"no-such-charset", "", "windows-1252//TRANSLIT"}) {
    std::string error;
    EXPECT_EQ(OpenCharset(name, &error), nullptr) << name;
    EXPECT_NE(error.find("unknown charset"), std::string::npos);
  }
}

}  // namespace
}  // namespace zanvor
