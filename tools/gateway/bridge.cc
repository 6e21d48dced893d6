#include "gateway/bridge.h"

#include <cstring>

#include "commands/arg_checks.h"
#include "contract/network.h"
#include "gateway/topics.h"

namespace zanvor {

const char* DropName(Drop drop) {
  switch (drop) {
    case Drop::kNone:
      return "none";
    case Drop::kBadDatagram:
      return "bad_datagram";
    case Drop::kFromGateway:
      return "from_gateway";
    case Drop::kDisconnected:
      return "disconnected";
    case Drop::kMalformedEscape:
      return "malformed_escape";
    case Drop::kNameTooLong:
      return "name_too_long";
    case Drop::kColonInName:
      return "colon_in_name";
    case Drop::kMessageTooLong:
      return "message_too_long";
    case Drop::kDuplicate:
      return "duplicate";
    case Drop::kNotSubscribed:
      return "not_subscribed";
    case Drop::kEmptyName:
      return "empty_name";
    case Drop::kNotConvertible:
      return "not_convertible";
  }
  return "?";
}

std::string IdToHex(const uint8_t id[kPacketIdSize]) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (int i = 0; i < kPacketIdSize; ++i) {
    hex += kDigits[id[i] >> 4];
    hex += kDigits[id[i] & 0x0F];
  }
  return hex;
}

bool IdFromHex(const std::string& hex, uint8_t id[kPacketIdSize]) {
  if (hex.size() != 2 * kPacketIdSize) return false;
  uint8_t bytes[kPacketIdSize];
  for (size_t i = 0; i < hex.size(); ++i) {
    const char c = hex[i];
    int value;
    if (c >= '0' && c <= '9') {
      value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      value = c - 'A' + 10;
    } else {
      return false;
    }
    bytes[i / 2] = static_cast<uint8_t>(i % 2 == 0 ? value << 4 : bytes[i / 2] | value);
  }
  std::memcpy(id, bytes, kPacketIdSize);
  return true;
}

GatewayBridge::GatewayBridge(std::string prefix, std::vector<std::string> filters, Charset& charset,
                             MakeId makeId)
    : prefix_(std::move(prefix)),
      filters_(std::move(filters)),
      charset_(charset),
      makeId_(makeId) {}

bool GatewayBridge::Subscribed(const std::string& topicName) const {
  for (const std::string& filter : filters_) {
    if (TopicMatchesFilter(topicName, filter)) return true;
  }
  return false;
}

Drop GatewayBridge::FromLan(uint8_t* datagram, uint32_t size, uint16_t sourcePort, uint32_t nowMs,
                            BrokerMessage* message) {
  uint8_t id[kPacketIdSize] = {};
  if (size >= static_cast<uint32_t>(kPacketIdSize)) std::memcpy(id, datagram, kPacketIdSize);
  const uint64_t duplicatesBefore = state_.counters.duplicates;
  ReceivedText capture;
  // Even a datagram this gateway or another one of the segment put on the
  // LAN goes through the duplicate filter first: its id is then known, should
  // the broker ever offer it again. It counts as a gateway's, duplicate or
  // not: every broadcast of this gateway comes back to it as a duplicate,
  // which would bury the duplicates worth counting.
  const bool taken = ReceiveDatagram(datagram, size, nowMs, capture, state_);
  const bool duplicate = state_.counters.duplicates != duplicatesBefore;
  if (sourcePort == kUdpPort && (taken || duplicate)) return Dropped(Drop::kFromGateway);
  if (!taken) return Dropped(duplicate ? Drop::kDuplicate : Drop::kBadDatagram);
  if (capture.name.empty()) return Dropped(Drop::kEmptyName);
  std::string utf8Name;
  if (!charset_.ToUtf8(capture.name, &utf8Name) ||
      !charset_.ToUtf8(capture.message, &message->payload)) {
    return Dropped(Drop::kNotConvertible);
  }
  const std::string topicName = EscapeTopicName(utf8Name);
  if (!Subscribed(topicName)) return Dropped(Drop::kNotSubscribed);
  message->topic = prefix_ + topicName;
  message->id = IdToHex(id);
  return Drop::kNone;
}

Drop GatewayBridge::FromBroker(const std::string& topic, const std::string& payload,
                               const std::string* zanvorId, uint32_t nowMs, uint32_t ticks,
                               std::vector<uint8_t>* datagram) {
  if (topic.compare(0, prefix_.size(), prefix_) != 0) return Dropped(Drop::kNotSubscribed);
  const std::string topicName = topic.substr(prefix_.size());
  if (!Subscribed(topicName)) return Dropped(Drop::kNotSubscribed);
  std::string utf8Name;
  if (!UnescapeTopicName(topicName, &utf8Name)) return Dropped(Drop::kMalformedEscape);
  if (utf8Name.empty()) return Dropped(Drop::kEmptyName);
  std::string name;
  std::string message;
  // A NUL would end the text early for every receiver, who reads it as a
  // zero-terminated string: such a text has no FoxPro counterpart either.
  if (!charset_.FromUtf8(utf8Name, &name) || !charset_.FromUtf8(payload, &message) ||
      name.find('\0') != std::string::npos || message.find('\0') != std::string::npos) {
    return Dropped(Drop::kNotConvertible);
  }
  if (name.size() > kMaxNameLength) return Dropped(Drop::kNameTooLong);
  if (name.find(':') != std::string::npos) return Dropped(Drop::kColonInName);
  if (message.size() > kMaxMessageLength) return Dropped(Drop::kMessageTooLong);

  uint8_t id[kPacketIdSize];
  if (zanvorId == nullptr || !IdFromHex(*zanvorId, id)) makeId_(id);
  if (state_.recentIds.CheckAndRecordId(id, nowMs)) return Dropped(Drop::kDuplicate);

  *datagram = PackTextDatagram(name + ":" + message, id, ticks);
  return Drop::kNone;
}

}  // namespace zanvor
