#include "gateway/bridge.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "contract/network.h"

namespace zanvor {
namespace {

constexpr uint16_t kFoxProPort = 50123;  // the library's unbound sending socket

void CountingId(uint8_t id[kPacketIdSize]) {
  static uint8_t next = 0;
  std::memset(id, 0xA0, kPacketIdSize);
  id[0] = ++next;
}

std::vector<uint8_t> Datagram(const std::string& text, uint8_t idByte) {
  uint8_t id[kPacketIdSize];
  std::memset(id, idByte, sizeof id);
  std::vector<uint8_t> datagram(text.size() + kPacketOverhead);
  CMsgPack packer;
  packer.Pack(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()),
              datagram.data(), datagram.size(), id, 12345);
  return datagram;
}

// The text of a datagram the bridge made, and its id.
std::string Unpacked(std::vector<uint8_t> datagram, std::string* idHex) {
  *idHex = IdToHex(datagram.data());
  std::vector<uint8_t> plain(datagram.size());
  CMsgUnPack unpacker;
  const int32_t n =
      unpacker.UnPack(datagram.data() + kPacketIdSize,
                      static_cast<int32_t>(datagram.size()) - kPacketIdSize, plain.data());
  return std::string(plain.begin(), plain.begin() + n);
}

class BridgeTest : public ::testing::Test {
 protected:
  BridgeTest() {
    std::string error;
    charset_ = OpenCharset(kDefaultCharset, &error);
  }
  GatewayBridge Make(std::vector<std::string> filters = {"#"}) {
    return GatewayBridge("zanvor/", std::move(filters), *charset_, &CountingId);
  }
  Drop Lan(GatewayBridge& bridge, const std::string& text, uint8_t idByte,
           uint16_t port = kFoxProPort) {
    std::vector<uint8_t> datagram = Datagram(text, idByte);
    datagram.resize(kPacketBufferSize);
    return bridge.FromLan(datagram.data(), static_cast<uint32_t>(text.size() + kPacketOverhead),
                          port, now_, &published_);
  }
  Drop Broker(GatewayBridge& bridge, const std::string& topic, const std::string& payload,
              const std::string* id = nullptr) {
    return bridge.FromBroker(topic, payload, id, now_, 777, &datagram_);
  }

  std::unique_ptr<Charset> charset_;
  uint32_t now_ = 1000;
  BrokerMessage published_;
  std::vector<uint8_t> datagram_;
};

TEST_F(BridgeTest, APostFromTheLanIsPublishedInUtf8UnderItsEscapedNameWithItsId) {
  GatewayBridge bridge = Make();
  ASSERT_EQ(Lan(bridge, "caf\xE9+#/eu:price \x80 5", 0xAB), Drop::kNone);
  EXPECT_EQ(published_.topic, "zanvor/caf\xC3\xA9%2B%23/eu");
  EXPECT_EQ(published_.payload, "price \xE2\x82\xAC 5");
  EXPECT_EQ(published_.id, "abababababababababababababababab");
  // Heard again on the other path or from another adapter: once only.
  EXPECT_EQ(Lan(bridge, "caf\xE9+#/eu:price \x80 5", 0xAB), Drop::kDuplicate);
}

TEST_F(BridgeTest, TheLanSideDropsWhatAServerDropsAndWhatAGatewayPutThere) {
  GatewayBridge bridge = Make({"orders/#", "+/alerts"});
  EXPECT_EQ(Lan(bridge, "orders:1", 1, kUdpPort), Drop::kFromGateway);
  EXPECT_EQ(Lan(bridge, "orders:1", 1), Drop::kDuplicate);  // its id was taken in all the same
  EXPECT_EQ(Lan(bridge, "no colon", 2), Drop::kBadDatagram);
  EXPECT_EQ(Lan(bridge, ":empty name", 3), Drop::kEmptyName);
  EXPECT_EQ(Lan(bridge, "orders:\x81", 4), Drop::kNotConvertible);
  EXPECT_EQ(Lan(bridge, "prices:1", 5), Drop::kNotSubscribed);
  EXPECT_EQ(Lan(bridge, "orders/eu:1", 6), Drop::kNone);
  EXPECT_EQ(Lan(bridge, "eu/alerts:1", 7), Drop::kNone);
  uint8_t junk[kPacketBufferSize] = {1, 2, 3};
  EXPECT_EQ(bridge.FromLan(junk, 10, kFoxProPort, now_, &published_), Drop::kBadDatagram);
  const GatewayCounters& c = bridge.counters();
  EXPECT_EQ(c.DroppedAs(Drop::kBadDatagram), 2u);
  EXPECT_EQ(c.DroppedAs(Drop::kFromGateway) + c.DroppedAs(Drop::kDuplicate) +
                c.DroppedAs(Drop::kEmptyName) + c.DroppedAs(Drop::kNotConvertible) +
                c.DroppedAs(Drop::kNotSubscribed),
            5u);
}

TEST_F(BridgeTest, AMessageFromTheBrokerIsBroadcastAsZanvorPacksIt) {
  GatewayBridge bridge = Make();
  const std::string upper = "0123456789ABCDEF0123456789abcdef";
  ASSERT_EQ(Broker(bridge, "zanvor/caf%c3%a9/eu", "\xE2\x82\xAC 5", &upper), Drop::kNone);
  std::string id;
  EXPECT_EQ(Unpacked(datagram_, &id), "caf\xE9/eu:\x80 5");
  EXPECT_EQ(id, "0123456789abcdef0123456789abcdef");
  // No usable zanvor-id: a fresh one.
  const std::string notHex = "0123456789abcdef0123456789abcdeg";
  ASSERT_EQ(Broker(bridge, "zanvor/x", "", &notHex), Drop::kNone);
  EXPECT_EQ(Unpacked(datagram_, &id).substr(0, 2), "x:");
  EXPECT_EQ(id.substr(2), "a0a0a0a0a0a0a0a0a0a0a0a0a0a0a0");
  // The same id again (a second delivery, or a post of this segment coming
  // back): dropped.
  EXPECT_EQ(Broker(bridge, "zanvor/y", "", &upper), Drop::kDuplicate);
  // And its broadcast, heard back on the gateway's own socket, is never
  // published again.
  std::vector<uint8_t> back = datagram_;
  ASSERT_EQ(Broker(bridge, "zanvor/z", "1"), Drop::kNone);
  back = datagram_;
  back.resize(kPacketBufferSize);
  EXPECT_EQ(bridge.FromLan(back.data(), static_cast<uint32_t>(datagram_.size()), kUdpPort, now_,
                           &published_),
            Drop::kFromGateway);
  back = datagram_;
  back.resize(kPacketBufferSize);
  EXPECT_EQ(bridge.FromLan(back.data(), static_cast<uint32_t>(datagram_.size()), kFoxProPort, now_,
                           &published_),
            Drop::kDuplicate);
}

TEST_F(BridgeTest, HostileMessagesFromTheBrokerAreDroppedAndCounted) {
  GatewayBridge bridge = Make({"orders/#", "x/+", "#"});
  struct Case {
    std::string topic;
    std::string payload;
    Drop drop;
  } cases[] = {
      {"zanvor/", "m", Drop::kEmptyName},
      {"zanvor/a:b", "m", Drop::kColonInName},
      {"zanvor/%3a", "m", Drop::kColonInName},
      {"zanvor/" + std::string(65, 'n'), "m", Drop::kNameTooLong},
      {"zanvor/" + std::string(64, 'n'), std::string(301, 'm'), Drop::kMessageTooLong},
      {"zanvor/%4", "m", Drop::kMalformedEscape},
      {"zanvor/%zz", "m", Drop::kMalformedEscape},
      {"zanvor/n", "\xFF", Drop::kNotConvertible},
      {"zanvor/n", "\xE6\x97\xA5", Drop::kNotConvertible},
      {"zanvor/n", std::string("a\0b", 3), Drop::kNotConvertible},
      {"zanvor/%00", "m", Drop::kNotConvertible},
      {"other/n", "m", Drop::kNotSubscribed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Broker(bridge, c.topic, c.payload), c.drop) << c.topic;
  }
  // The limits are the charset's bytes: a 64-character name of "é" is 64
  // bytes in windows-1252 (128 in UTF-8), a 300-byte message is fine.
  std::string name;
  for (int i = 0; i < 64; ++i) name += "\xC3\xA9";
  EXPECT_EQ(Broker(bridge, "zanvor/" + name, std::string(300, 'm')), Drop::kNone);
  EXPECT_EQ(bridge.counters().DroppedAs(Drop::kNotConvertible), 4u);
  EXPECT_EQ(bridge.counters().DroppedAs(Drop::kColonInName), 2u);

  GatewayBridge limited = Make({"orders/#"});
  EXPECT_EQ(Broker(limited, "zanvor/prices", "m"), Drop::kNotSubscribed);
  EXPECT_EQ(Broker(limited, "zanvor/orders/eu", "m"), Drop::kNone);
}

}  // namespace
}  // namespace zanvor
