// The gateway's settings: its broker's URL and the plain-MQTT check, its LAN
// and site name, the password file, the reconnect schedule and its report
// lines.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "gateway/backoff.h"
#include "gateway/broker_url.h"
#include "gateway/gateway_options.h"
#include "gateway/lan.h"
#include "gateway/report.h"

namespace zanvor {
namespace {

TEST(BrokerUrlTest, SchemeHostAndPort) {
  BrokerUrl url;
  std::string problem;
  ASSERT_TRUE(ParseBrokerUrl("mqtt://broker", &url, &problem));
  EXPECT_FALSE(url.tls);
  EXPECT_EQ(url.host, "broker");
  EXPECT_EQ(url.port, 1883);
  ASSERT_TRUE(ParseBrokerUrl("mqtts://10.0.0.1", &url, &problem));
  EXPECT_TRUE(url.tls);
  EXPECT_EQ(url.port, 8883);
  ASSERT_TRUE(ParseBrokerUrl("mqtt://[::1]:1999/", &url, &problem));
  EXPECT_EQ(url.host, "::1");
  EXPECT_EQ(url.port, 1999);
  for (const char* bad : {"tcp://h", "mqtt://", "mqtt://h:", "mqtt://h:0", "mqtt://h:65536",
                          "mqtt://h:1x", "mqtt://u@h", "mqtt://h/path", "mqtt://[::1"}) {
    EXPECT_FALSE(ParseBrokerUrl(bad, &url, &problem)) << bad;
    EXPECT_NE(problem.find("--broker"), std::string::npos) << bad;
  }
}

IpAddress Address(const char* text) {
  IpAddress a;
  a.v6 = std::string(text).find(':') != std::string::npos;
  inet_pton(a.v6 ? AF_INET6 : AF_INET, text, a.bytes);
  return a;
}

TEST(BrokerUrlTest, PlainMqttLeavesTheLocalRangesOnlyWithInsecure) {
  for (const char* local :
       {"127.0.0.1", "127.9.9.9", "10.1.2.3", "172.16.0.1", "172.31.255.255", "192.168.1.1",
        "169.254.0.5", "::1", "fc00::1", "fdff::1", "fe80::1", "febf::1", "::ffff:192.168.0.1"}) {
    EXPECT_TRUE(IsLocalNetworkAddress(Address(local))) << local;
  }
  for (const char* remote : {"198.51.100.7", "172.32.0.1", "172.15.255.255", "192.169.0.1",
                             "8.8.8.8", "2001:db8::1", "fec0::1", "::ffff:8.8.8.8", "::"}) {
    EXPECT_FALSE(IsLocalNetworkAddress(Address(remote))) << remote;
  }
  EXPECT_FALSE(PlainMqttNeedsInsecure({Address("127.0.0.1"), Address("::1")}));
  EXPECT_TRUE(PlainMqttNeedsInsecure({Address("10.0.0.1"), Address("198.51.100.7")}));
  EXPECT_TRUE(PlainMqttNeedsInsecure({}));
}

InterfaceAddress If(const char* name, const char* address, uint8_t prefix, bool up = true) {
  InterfaceAddress a;
  a.name = name;
  a.up = a.running = up;
  a.loopback = std::string(name) == "lo";
  a.address = {ntohl(inet_addr(address)), prefix};
  return a;
}

TEST(LanTest, TheLanIsEveryBroadcastSubnetThatIsUpAndTheSiteIsItsLowestNetwork) {
  const std::vector<InterfaceAddress> all = {
      If("lo", "127.0.0.1", 8),    If("wan", "192.0.2.1", 31),    If("eth1", "10.77.1.9", 24),
      If("eth0", "10.77.0.5", 24), If("eth0", "10.77.0.200", 16), If("down", "10.0.0.1", 8, false),
      If("eth2", "10.77.0.9", 30),
  };
  std::vector<std::string> names;
  for (const InterfaceAddress& a : LanAddresses(all, {})) names.push_back(a.name);
  EXPECT_EQ(names, (std::vector<std::string>{"eth1", "eth0", "eth0", "eth2"}));
  // 10.77.0.0/16 and 10.77.0.0/24 tie on the network: the shorter prefix.
  EXPECT_EQ(DefaultSiteName(LanAddresses(all, {})), "net-10.77.0.0-16");
  EXPECT_EQ(DefaultSiteName(LanAddresses(all, {"eth1"})), "net-10.77.1.0-24");
  EXPECT_EQ(DefaultSiteName(LanAddresses(all, {"wan"})), "");
  EXPECT_EQ(LanInterfacesWaiting(all, {"eth1", "down", "wan"}),
            (std::vector<std::string>{"down", "wan"}));
  EXPECT_TRUE(IsValidSiteName("net-10.77.0.0-24"));
  for (const char* bad : {"", "a/b", "a+", "#"}) EXPECT_FALSE(IsValidSiteName(bad)) << bad;
}

TEST(PasswordFileTest, TheFirstLineWithoutItsLineEnding) {
  const std::string path = ::testing::TempDir() + "gateway_password";
  std::string password;
  std::string error;
  for (const char* content : {"s3cret\r\nsecond\n", "s3cret\n", "s3cret"}) {
    std::ofstream(path, std::ios::binary) << content;
    ASSERT_TRUE(ReadPasswordFile(path, &password, &error));
    EXPECT_EQ(password, "s3cret");
  }
  std::remove(path.c_str());
  EXPECT_FALSE(ReadPasswordFile(path, &password, &error));
  EXPECT_NE(error.find(path), std::string::npos);
}

TEST(BackoffTest, DoublesFromOneSecondToThirtyAndStartsOverOnceConnected) {
  ReconnectBackoff backoff;
  EXPECT_TRUE(backoff.Due(0));
  std::vector<int64_t> delays;
  int64_t now = 0;
  for (int i = 0; i < 7; ++i) {
    delays.push_back(backoff.Failed(now));
    EXPECT_FALSE(backoff.Due(now + delays.back() - 1));
    EXPECT_EQ(backoff.WaitMs(now + 1), delays.back() - 1);
    now += delays.back();
    EXPECT_TRUE(backoff.Due(now));
  }
  EXPECT_EQ(delays, (std::vector<int64_t>{1000, 2000, 4000, 8000, 16000, 30000, 30000}));
  backoff.Connected();
  EXPECT_EQ(backoff.Failed(now), 1000);
}

TEST(ReportTest, StatsListEveryCounterPlainAndAsJson) {
  GatewayCounters counters;
  counters.published = 3;
  counters.reconnects = 1;
  counters.Count(Drop::kDisconnected);
  counters.Count(Drop::kNotConvertible);
  counters.Count(Drop::kNotConvertible);
  EXPECT_EQ(StatsReport(false, counters),
            "zanvor gateway: stats published=3 broadcast=0 reconnects=1 dropped_bad_datagram=0 "
            "dropped_from_gateway=0 dropped_disconnected=1 dropped_malformed_escape=0 "
            "dropped_name_too_long=0 dropped_colon_in_name=0 dropped_message_too_long=0 "
            "dropped_duplicate=0 dropped_not_subscribed=0 dropped_empty_name=0 "
            "dropped_not_convertible=2");
  const std::string json = StatsReport(true, counters);
  EXPECT_EQ(json.rfind("{\"event\":\"stats\",\"published\":3,\"broadcast\":0,", 0), 0u);
  EXPECT_NE(json.find(",\"dropped_not_convertible\":2}"), std::string::npos);
  EXPECT_EQ(EventReport(false, "disconnected", {{"cause", "lost\nconnection"}}),
            "zanvor gateway: disconnected cause=lost\\nconnection");
  EXPECT_EQ(EventReport(true, "connected", {{"broker", "mqtt://h"}, {"n", "2", true}}),
            "{\"event\":\"connected\",\"broker\":\"mqtt://h\",\"n\":2}");
}

}  // namespace
}  // namespace zanvor
