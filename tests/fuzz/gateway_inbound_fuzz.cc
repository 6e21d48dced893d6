// The gateway's broker -> LAN conversion: messages as a hostile MQTT client
// could publish them under the prefix, each through GatewayBridge::FromBroker
// of one bridge (one duplicate filter) with the real iconv charset. What is
// broadcast must be a post a server instance takes: it unpacks, its name
// and message keep the limits, its text converts back to the topic's name
// and the payload, its id is the zanvor-id when that was 32 hex digits; and
// once broadcast, it is never published back from the LAN. Every message is
// either broadcast or counted under exactly one reason.
//
// Input: records, each
//   flags byte: bit 0 a zanvor-id property follows, bit 1 the topic goes
//     without the prefix, bit 2 the charset is CP932 instead of windows-1252
//     (first record only), bit 3 the clock moves on 31 s first
//   topic: length byte, bytes
//   payload: 2-byte little-endian length (mod 1024), bytes
//   with bit 0: a length byte (mod 40), then the property's bytes
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands/arg_checks.h"
#include "contract/network.h"
#include "fuzz/fuzz_input.h"
#include "gateway/bridge.h"
#include "gateway/charset.h"
#include "gateway/topics.h"
#include "messaging/receive_tick.h"

namespace zanvor {
namespace {

using fuzz::Check;

void FreshId(uint8_t id[kPacketIdSize]) {
  static uint32_t next = 0;
  std::memset(id, 0x5A, kPacketIdSize);
  ++next;
  std::memcpy(id, &next, sizeof next);
}

std::string Text(const fuzz::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace
}  // namespace zanvor

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zanvor;
  fuzz::Reader in(data, size);
  const uint8_t firstFlags = size > 0 ? data[0] : 0;
  std::string error;
  std::unique_ptr<Charset> charset =
      OpenCharset((firstFlags & 4) != 0 ? "CP932" : kDefaultCharset, &error);
  Check(charset != nullptr, "the charset opens");
  GatewayBridge bridge("zanvor/", {"#"}, *charset, &FreshId);
  uint32_t now = 1000;
  uint64_t messages = 0;
  for (int record = 0; record < 64 && !in.AtEnd(); ++record) {
    const uint8_t flags = in.Byte();
    if ((flags & 8) != 0) now += 31000;
    std::string topic = Text(in.Take(in.Byte()));
    if ((flags & 2) == 0) topic = "zanvor/" + topic;
    const size_t payloadLength = (in.Byte() | (in.Byte() << 8)) % 1024;
    const std::string payload = Text(in.Take(payloadLength));
    std::string property;
    if ((flags & 1) != 0) property = Text(in.Take(in.Byte() % 40));

    std::vector<uint8_t> datagram;
    ++messages;
    const Drop drop = bridge.FromBroker(topic, payload, (flags & 1) != 0 ? &property : nullptr, now,
                                        4242 + record, &datagram);
    if (drop != Drop::kNone) continue;
    ++bridge.counters().broadcast;

    Check(datagram.size() >= static_cast<size_t>(kMinReceivedDatagram) &&
              datagram.size() <= static_cast<size_t>(kMaxReceivedDatagram),
          "a broadcast is inside every receiver's size window");
    uint8_t id[kPacketIdSize];
    if ((flags & 1) != 0 && IdFromHex(property, id)) {
      Check(std::memcmp(id, datagram.data(), kPacketIdSize) == 0, "the zanvor-id is the packet id");
    }
    std::vector<uint8_t> copy = datagram;
    copy.resize(kPacketBufferSize);
    ReceivedText server;
    ReceiveState serverState;
    Check(ReceiveDatagram(copy.data(), static_cast<uint32_t>(datagram.size()), now, server,
                          serverState),
          "a server instance takes the broadcast");
    Check(!server.name.empty() && server.name.size() <= kMaxNameLength,
          "the name keeps its limits");
    Check(server.message.size() <= kMaxMessageLength, "the message keeps its limit");
    Check(server.name.find(':') == std::string::npos, "no colon in the name");
    std::string utf8;
    std::string unescaped;
    Check(charset->ToUtf8(server.name, &utf8) &&
              UnescapeTopicName(topic.substr(std::strlen("zanvor/")), &unescaped) &&
              utf8 == unescaped,
          "the name converts back to the topic's");
    Check(charset->ToUtf8(server.message, &utf8) && utf8 == payload,
          "the message converts back to the payload");

    // Heard back on the gateway's own socket: never published; and its id
    // is known, whatever port it came from.
    for (const uint16_t port : {kUdpPort, uint16_t{50000}}) {
      std::vector<uint8_t> echo = datagram;
      echo.resize(kPacketBufferSize);
      BrokerMessage published;
      const Drop again = bridge.FromLan(echo.data(), static_cast<uint32_t>(datagram.size()), port,
                                        now, &published);
      Check(again == (port == kUdpPort ? Drop::kFromGateway : Drop::kDuplicate),
            "an injected post is never published back");
      bridge.counters().dropped[static_cast<int>(again)]--;
    }
  }
  uint64_t counted = bridge.counters().broadcast;
  for (int i = 0; i < kDropKinds; ++i) counted += bridge.counters().dropped[i];
  Check(counted == messages, "every message is broadcast or counted once");
  Check(bridge.receiveState().recentIds.IndexIsConsistent(), "the duplicate filter is consistent");
  return 0;
}
