// Where the gateway's broker is, and whether talking to it without TLS
// needs --insecure.
#ifndef ZANVOR_TOOLS_GATEWAY_BROKER_URL_H_
#define ZANVOR_TOOLS_GATEWAY_BROKER_URL_H_

#include <cstdint>
#include <string>
#include <vector>

namespace zanvor {

constexpr uint16_t kMqttPort = 1883;
constexpr uint16_t kMqttsPort = 8883;

struct BrokerUrl {
  bool tls = false;
  std::string host;  // a name, an IPv4 address or an IPv6 address (without brackets)
  uint16_t port = 0;
};

// "mqtt://HOST[:PORT]" (port 1883 by default) or "mqtts://HOST[:PORT]"
// (TLS, 8883); an IPv6 address in brackets. False with *problem otherwise.
bool ParseBrokerUrl(const std::string& url, BrokerUrl* out, std::string* problem);

// One address a broker's host name gave, in network byte order.
struct IpAddress {
  bool v6 = false;
  uint8_t bytes[16] = {};  // IPv4: the first 4
};

// Loopback (127.0.0.0/8, ::1), the private ranges (10/8, 172.16/12,
// 192.168/16, fc00::/7) and link-local (169.254/16, fe80::/10); an
// IPv4-mapped IPv6 address as its IPv4 address.
bool IsLocalNetworkAddress(const IpAddress& address);

// Whether plain MQTT to a host with these addresses would cross a network
// that is not the site's own: any address outside the local ranges, or none.
bool PlainMqttNeedsInsecure(const std::vector<IpAddress>& addresses);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_GATEWAY_BROKER_URL_H_
