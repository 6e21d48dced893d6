#include "gateway/topics.h"

#include <gtest/gtest.h>

namespace zanvor {
namespace {

TEST(TopicsTest, EscapingWritesTheMeaningfulAndControlCharactersAsUppercaseHex) {
  EXPECT_EQ(EscapeTopicName("orders/eu"), "orders/eu");
  EXPECT_EQ(EscapeTopicName("a%b+c#d"), "a%25b%2Bc%23d");
  EXPECT_EQ(EscapeTopicName(std::string("\x01\x1f \x7f", 4)), "%01%1F %7F");
  // U+0080 and U+009F are escaped byte by byte; U+00A0 and "é" stay.
  EXPECT_EQ(EscapeTopicName("\xC2\x80\xC2\x9F\xC2\xA0\xC3\xA9"), "%C2%80%C2%9F\xC2\xA0\xC3\xA9");
}

TEST(TopicsTest, UnescapingTakesEitherCaseAndRefusesMalformedSequences) {
  std::string bytes;
  for (const std::string& name : {std::string("a%b+c#d/\x01\xC2\x85\xC3\xA9"), std::string("")}) {
    ASSERT_TRUE(UnescapeTopicName(EscapeTopicName(name), &bytes));
    EXPECT_EQ(bytes, name);
  }
  ASSERT_TRUE(UnescapeTopicName("%c3%A9x", &bytes));
  EXPECT_EQ(bytes, "\xC3\xA9x");
  for (const char* malformed : {"%", "a%4", "%4g", "%G0", "x%%41"}) {
    EXPECT_FALSE(UnescapeTopicName(malformed, &bytes)) << malformed;
  }
}

TEST(TopicsTest, FiltersMatchAsTheBrokerMatchesThem) {
  struct Case {
    const char* filter;
    const char* topic;
    bool match;
  } cases[] = {
      {"orders", "orders", true},     {"orders", "orders/eu", false},
      {"orders/#", "orders", true},   {"orders/#", "orders/eu/de", true},
      {"orders/#", "ordersx", false}, {"+/alerts", "eu/alerts", true},
      {"+/alerts", "alerts", false},  {"+/alerts", "eu/alerts/x", false},
      {"#", "anything/at/all", true}, {"+", "", true},
      {"orders/+", "orders/", true},  {"a/+/c", "a/b/c", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TopicMatchesFilter(c.topic, c.filter), c.match) << c.filter << " " << c.topic;
  }
  for (const char* valid : {"#", "orders", "orders/#", "+/alerts", "+/+", "a//b"}) {
    EXPECT_TRUE(IsValidTopicFilter(valid)) << valid;
  }
  for (const char* invalid : {"", "#/x", "or#", "or+", "a/b#", "+x/y"}) {
    EXPECT_FALSE(IsValidTopicFilter(invalid)) << invalid;
  }
}

}  // namespace
}  // namespace zanvor
