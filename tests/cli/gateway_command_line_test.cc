// zanvor gateway's command line: the native build's verb, its options and
// what only the whole command line can tell.
#include <gtest/gtest.h>

#include "cli/command_line.h"

namespace zanvor {
namespace {

const ToolCapabilities kWindows{true};
const ToolCapabilities kNative{false};

bool Parse(const std::vector<std::string>& args, const ToolCapabilities& caps, Invocation* out,
           std::string* error) {
  return ParseCommandLine(args, caps, out, error);
}

TEST(GatewayCommandLineTest, EveryOptionIsTakenWithItsDefaults) {
  Invocation in;
  std::string error;
  ASSERT_TRUE(Parse({"gateway", "--broker", "mqtt://127.0.0.1:1999"}, kNative, &in, &error))
      << error;
  EXPECT_EQ(in.verb, Verb::kGateway);
  const GatewayOptions& d = in.options.gateway;
  EXPECT_EQ(d.broker.port, 1999);
  EXPECT_EQ(d.names, (std::vector<std::string>{"#"}));
  EXPECT_EQ(d.topicPrefix, "zanvor/");
  EXPECT_EQ(d.charset, "windows-1252");
  EXPECT_EQ(d.statsIntervalSeconds, 60u);
  EXPECT_FALSE(d.insecure || in.options.json);

  ASSERT_TRUE(Parse({"gateway",
                     "--broker",
                     "mqtts://b",
                     "--names",
                     "orders/#,+/alerts",
                     "--topic-prefix",
                     "shop/",
                     "--username",
                     "gw",
                     "--password-file",
                     "/p",
                     "--cafile",
                     "/ca.pem",
                     "--client-id",
                     "gw-a1",
                     "--site",
                     "A",
                     "--lan",
                     "eth0,eth1",
                     "--charset",
                     "CP932",
                     "--stats-interval",
                     "86400",
                     "--insecure",
                     "--json"},
                    kNative, &in, &error))
      << error;
  const GatewayOptions& g = in.options.gateway;
  EXPECT_EQ(g.names, (std::vector<std::string>{"orders/#", "+/alerts"}));
  EXPECT_EQ(g.lan, (std::vector<std::string>{"eth0", "eth1"}));
  EXPECT_EQ(
      g.topicPrefix + g.username + g.passwordFile + g.cafile + g.clientId + g.site + g.charset,
      "shop/gw/p/ca.pemgw-a1ACP932");
  EXPECT_EQ(g.statsIntervalSeconds, 86400u);
  EXPECT_TRUE(g.insecure && in.options.json && g.broker.tls);
}

TEST(GatewayCommandLineTest, WrongSettingsAreUsageErrors) {
  const std::vector<std::vector<std::string>> wrong = {
      {"gateway"},
      {"gateway", "--broker", "http://b"},
      {"gateway", "--broker", "mqtt://b", "--cafile", "ca.pem"},
      {"gateway", "--broker", "mqtt://b", "--password-file", "pw"},
      {"gateway", "--broker", "mqtt://b", "--stats-interval", "0"},
      {"gateway", "--broker", "mqtt://b", "--stats-interval", "86401"},
      {"gateway", "--broker", "mqtt://b", "--stats-interval", "1.5"},
      {"gateway", "--broker", "mqtt://b", "--names", "a/#/b"},
      {"gateway", "--broker", "mqtt://b", "--names", "a,,b"},
      {"gateway", "--broker", "mqtt://b", "--site", "a/b"},
      {"gateway", "--broker", "mqtt://b", "--topic-prefix", "z/#"},
      {"gateway", "--broker", "mqtt://b", "--topic-prefix", "$SYS/zanvor/"},
      {"gateway", "--broker", "mqtt://b", "--lan", ""},
      {"gateway", "--broker", "mqtt://b", "extra"},
  };
  for (const std::vector<std::string>& args : wrong) {
    Invocation in;
    std::string error;
    EXPECT_FALSE(Parse(args, kNative, &in, &error)) << args.back();
    EXPECT_NE(error.find("(see zanvor gateway --help)"), std::string::npos) << error;
  }
}

TEST(GatewayCommandLineTest, OnlyTheNativeBuildHasIt) {
  Invocation in;
  std::string error;
  EXPECT_FALSE(Parse({"gateway", "--broker", "mqtt://b"}, kWindows, &in, &error));
  EXPECT_EQ(error,
            "gateway needs the native Linux build of zanvor (it runs in WSL too); this build has "
            "run, post, listen, status and doctor (see zanvor --help)");
  EXPECT_EQ(UsageText(Verb::kNone, kWindows).find("gateway"), std::string::npos);
  EXPECT_NE(UsageText(Verb::kNone, kNative).find("\n  gateway --broker URL "), std::string::npos);
  const std::string help = UsageText(Verb::kGateway, kNative);
  EXPECT_EQ(help.rfind("Usage: zanvor gateway [options] --broker URL\n", 0), 0u);
  // An option label that reaches the text column puts its text on the next
  // line, in the column.
  EXPECT_NE(help.find("\n  --stats-interval SECONDS\n                     print the counters"),
            std::string::npos);
}

}  // namespace
}  // namespace zanvor
