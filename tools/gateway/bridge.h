// What a gateway does with each post between the LAN and the broker, apart
// from the sockets: the conversions both ways, the one duplicate filter both
// directions share, and the counters of what crossed and what was dropped
// and why.
#ifndef ZANVOR_TOOLS_GATEWAY_BRIDGE_H_
#define ZANVOR_TOOLS_GATEWAY_BRIDGE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "gateway/charset.h"
#include "messaging/packet.h"
#include "messaging/receive_tick.h"

namespace zanvor {

// Why a post did not cross. Each has its counter and its name in the
// stats (DropName).
enum class Drop {
  kNone,
  // LAN -> broker
  kBadDatagram,   // outside the size window, a wrong check byte, no colon
  kFromGateway,   // source port 38217: a gateway (this one too) put it on this segment
  kDisconnected,  // no broker connection when it came (no queue)
  // broker -> LAN
  kMalformedEscape,
  kNameTooLong,  // over 64 bytes in the charset
  kColonInName,
  kMessageTooLong,  // over 300 bytes in the charset
  // both ways
  kDuplicate,      // its id is in the duplicate filter
  kNotSubscribed,  // outside the prefix or no --names filter takes it
  kEmptyName,
  kNotConvertible,  // a name or message with no counterpart in the other charset
};
constexpr int kDropKinds = static_cast<int>(Drop::kNotConvertible) + 1;

const char* DropName(Drop drop);

struct GatewayCounters {
  uint64_t published = 0;  // posts from the LAN the broker took
  uint64_t broadcast = 0;  // posts from the broker put on the LAN
  uint64_t reconnects = 0;
  uint64_t dropped[kDropKinds] = {};

  void Count(Drop drop) { ++dropped[static_cast<int>(drop)]; }
  uint64_t DroppedAs(Drop drop) const { return dropped[static_cast<int>(drop)]; }
};

// The packet id as the zanvor-id user property carries it.
std::string IdToHex(const uint8_t id[kPacketIdSize]);
// 32 hex digits in either case; false (id untouched) otherwise.
bool IdFromHex(const std::string& hex, uint8_t id[kPacketIdSize]);

// A post on its way to the broker.
struct BrokerMessage {
  std::string topic;
  std::string payload;  // UTF-8
  std::string id;       // IdToHex of the packet id
};

// The text ReceiveDatagram hands on, kept: a server instance's view of a
// datagram.
class ReceivedText final : public ReceiveSink {
 public:
  void DispatchReceived(const std::string& name, const std::string& message) override {
    this->name = name;
    this->message = message;
  }
  // Only the mailslot's reads fail; datagrams never do.
  void ShowErrorBox(const std::string&) override {}
  uint32_t LastError() override { return 0; }

  std::string name;
  std::string message;
};

class GatewayBridge {
 public:
  using MakeId = void (*)(uint8_t id[kPacketIdSize]);

  // `prefix` is the topic prefix ("zanvor/"), `filters` the --names filters
  // (each IsValidTopicFilter). REQUIRES: charset outlives the bridge.
  GatewayBridge(std::string prefix, std::vector<std::string> filters, Charset& charset,
                MakeId makeId);
  GatewayBridge(const GatewayBridge&) = delete;
  GatewayBridge& operator=(const GatewayBridge&) = delete;

  // One datagram from UDP port 38217, from `sourcePort`, at nowMs (a
  // monotonic millisecond count that may wrap), taken through a server
  // instance's steps (size window, duplicate filter, check byte, first
  // colon). Drop::kNone with *message when it is to be published; every
  // other result is counted here.
  // REQUIRES: datagram holds size <= kPacketBufferSize bytes; it is
  // unpacked in place.
  Drop FromLan(uint8_t* datagram, uint32_t size, uint16_t sourcePort, uint32_t nowMs,
               BrokerMessage* message);

  // One message from the broker: its topic, payload and zanvor-id property
  // (nullptr: none). Drop::kNone with *datagram, the post as ZANVOR packs
  // it with seed `ticks`, when it is to be broadcast; its id is then in the
  // duplicate filter. Every other result is counted here.
  Drop FromBroker(const std::string& topic, const std::string& payload, const std::string* zanvorId,
                  uint32_t nowMs, uint32_t ticks, std::vector<uint8_t>* datagram);

  GatewayCounters& counters() { return counters_; }
  const ReceiveState& receiveState() const { return state_; }

 private:
  bool Subscribed(const std::string& topicName) const;
  Drop Dropped(Drop drop) {
    counters_.Count(drop);
    return drop;
  }

  const std::string prefix_;
  const std::vector<std::string> filters_;
  Charset& charset_;
  MakeId makeId_;
  ReceiveState state_;  // the duplicate filter both ways share
  GatewayCounters counters_;
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_GATEWAY_BRIDGE_H_
