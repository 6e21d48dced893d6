#include "gateway/broker_url.h"

#include <cstdlib>
#include <cstring>

namespace zanvor {

bool ParseBrokerUrl(const std::string& url, BrokerUrl* out, std::string* problem) {
  BrokerUrl parsed;
  std::string rest;
  if (url.rfind("mqtt://", 0) == 0) {
    rest = url.substr(7);
    parsed.port = kMqttPort;
  } else if (url.rfind("mqtts://", 0) == 0) {
    rest = url.substr(8);
    parsed.tls = true;
    parsed.port = kMqttsPort;
  } else {
    *problem = "--broker takes mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not \"" + url + "\"";
    return false;
  }
  // A trailing "/" is what many tools write after a host; no path means
  // anything to MQTT.
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  std::string port;
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close == std::string::npos) {
      *problem = "--broker: no \"]\" after the IPv6 address in \"" + url + "\"";
      return false;
    }
    parsed.host = rest.substr(1, close - 1);
    const std::string after = rest.substr(close + 1);
    if (!after.empty() && after[0] != ':') {
      *problem = "--broker: \"" + after + "\" after the host in \"" + url + "\"";
      return false;
    }
    if (!after.empty()) port = after.substr(1);
    if (after == ":") port = ":";
  } else {
    const size_t colon = rest.find(':');
    parsed.host = rest.substr(0, colon);
    if (colon != std::string::npos) port = rest.size() == colon + 1 ? ":" : rest.substr(colon + 1);
  }
  if (parsed.host.empty() || parsed.host.find_first_of("/@?# ") != std::string::npos) {
    *problem = "--broker needs a host name or address, as in mqtts://broker.example:8883, not \"" +
               url + "\"";
    return false;
  }
  if (!port.empty()) {
    const bool digits =
        port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
    const long value = digits ? std::strtol(port.c_str(), nullptr, 10) : 0;
    if (value < 1 || value > 65535) {
      *problem = "--broker: the port is a number from 1 to 65535, not \"" + port + "\"";
      return false;
    }
    parsed.port = static_cast<uint16_t>(value);
  }
  *out = parsed;
  return true;
}

namespace {

bool Ipv4IsLocal(const uint8_t* a) {
  return a[0] == 127 || a[0] == 10 || (a[0] == 172 && (a[1] & 0xF0) == 16) ||
         (a[0] == 192 && a[1] == 168) || (a[0] == 169 && a[1] == 254);
}

}  // namespace

bool IsLocalNetworkAddress(const IpAddress& address) {
  const uint8_t* a = address.bytes;
  if (!address.v6) return Ipv4IsLocal(a);
  static const uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (std::memcmp(a, kMappedPrefix, sizeof kMappedPrefix) == 0) return Ipv4IsLocal(a + 12);
  static const uint8_t kLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  if (std::memcmp(a, kLoopback, sizeof kLoopback) == 0) return true;
  return (a[0] & 0xFE) == 0xFC || (a[0] == 0xFE && (a[1] & 0xC0) == 0x80);
}

bool PlainMqttNeedsInsecure(const std::vector<IpAddress>& addresses) {
  if (addresses.empty()) return true;
  for (const IpAddress& address : addresses) {
    if (!IsLocalNetworkAddress(address)) return true;
  }
  return false;
}

}  // namespace zanvor
