#include "cli/text_output.h"

#include <gtest/gtest.h>

namespace zanvor {
namespace {

TEST(TextOutputTest, APlainLineShowsQuotesLineBreaksAndControlBytesEscaped) {
  EXPECT_EQ(MessageLine("orders", "say \"hi\"\r\nback\\slash\ttab"),
            "orders\tsay \\\"hi\\\"\\r\\nback\\\\slash\\ttab");
}

TEST(TextOutputTest, UtcTimestampsAreIsoWithMilliseconds) {
  EXPECT_EQ(UtcTimestamp(0), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(UtcTimestamp(951782400123), "2000-02-29T00:00:00.123Z");
  EXPECT_EQ(UtcTimestamp(4102444799999), "2099-12-31T23:59:59.999Z");
}

TEST(TextOutputTest, JsonObjectsKeepTheirOrderAndEveryByte) {
  EXPECT_EQ(JsonObject()
                .Add("name", "n\"1")
                .AddNumber("count", 3)
                .AddBool("open", false)
                .AddRaw("server", "null")
                .Add("text", "\xFF\n")
                .Text(),
            "{\"name\": \"n\\\"1\", \"count\": 3, \"open\": false, \"server\": null, "
            "\"text\": \"\\u00ff\\n\"}");
  EXPECT_EQ(JsonObject().Text(), "{}");
  EXPECT_EQ(WindowText(0x1002E), "0x0001002E");
  EXPECT_EQ(Ipv4Text(0x0A4D00FF), "10.77.0.255");
}

}  // namespace
}  // namespace zanvor
