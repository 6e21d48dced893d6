// The options of zanvor gateway as its command line gives them, and the
// reading of the password file.
#ifndef ZANVOR_TOOLS_GATEWAY_GATEWAY_OPTIONS_H_
#define ZANVOR_TOOLS_GATEWAY_GATEWAY_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "gateway/broker_url.h"
#include "gateway/charset.h"

namespace zanvor {

constexpr uint32_t kDefaultStatsIntervalSeconds = 60;
constexpr uint32_t kMaxStatsIntervalSeconds = 86400;

struct GatewayOptions {
  bool brokerGiven = false;
  BrokerUrl broker;
  std::string brokerText;                  // as given, for the output
  std::vector<std::string> names = {"#"};  // topic filters relative to the prefix
  bool namesGiven = false;
  std::string topicPrefix = "zanvor/";
  std::string username;
  std::string passwordFile;      // "": no password
  std::string cafile;            // "": the system's CA store
  std::string clientId;          // "": the broker makes one
  std::string site;              // "": DefaultSiteName of the LAN
  std::vector<std::string> lan;  // "": every LAN interface
  std::string charset = kDefaultCharset;
  uint32_t statsIntervalSeconds = kDefaultStatsIntervalSeconds;
  bool insecure = false;
};

// The first line of `path`, without its line ending (LF or CR LF). False
// with *error when the file cannot be read.
bool ReadPasswordFile(const std::string& path, std::string* password, std::string* error);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_GATEWAY_GATEWAY_OPTIONS_H_
