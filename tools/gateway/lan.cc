#include "gateway/lan.h"

#include <algorithm>

namespace zanvor {
namespace {

constexpr uint8_t kLongestLanPrefix = 30;

uint32_t Network(const AdapterAddress& a) {
  const uint32_t mask = a.prefixLength == 0 ? 0 : 0xFFFFFFFFu << (32 - a.prefixLength);
  return a.address & mask;
}

bool Named(const std::vector<std::string>& only, const std::string& name) {
  return only.empty() || std::find(only.begin(), only.end(), name) != only.end();
}

}  // namespace

std::vector<InterfaceAddress> LanAddresses(const std::vector<InterfaceAddress>& all,
                                           const std::vector<std::string>& only) {
  std::vector<InterfaceAddress> lan;
  for (const InterfaceAddress& a : all) {
    if (a.up && a.running && !a.loopback && a.address.prefixLength <= kLongestLanPrefix &&
        Named(only, a.name)) {
      lan.push_back(a);
    }
  }
  return lan;
}

std::vector<std::string> LanInterfacesWaiting(const std::vector<InterfaceAddress>& all,
                                              const std::vector<std::string>& only) {
  const std::vector<InterfaceAddress> lan = LanAddresses(all, only);
  std::vector<std::string> waiting;
  for (const std::string& name : only) {
    const bool ready = std::any_of(lan.begin(), lan.end(),
                                   [&name](const InterfaceAddress& a) { return a.name == name; });
    if (!ready) waiting.push_back(name);
  }
  return waiting;
}

std::string DefaultSiteName(const std::vector<InterfaceAddress>& lan) {
  const InterfaceAddress* lowest = nullptr;
  for (const InterfaceAddress& a : lan) {
    if (lowest == nullptr || Network(a.address) < Network(lowest->address) ||
        (Network(a.address) == Network(lowest->address) &&
         a.address.prefixLength < lowest->address.prefixLength)) {
      lowest = &a;
    }
  }
  if (lowest == nullptr) return "";
  const uint32_t n = Network(lowest->address);
  return "net-" + std::to_string(n >> 24) + "." + std::to_string((n >> 16) & 0xFF) + "." +
         std::to_string((n >> 8) & 0xFF) + "." + std::to_string(n & 0xFF) + "-" +
         std::to_string(lowest->address.prefixLength);
}

bool IsValidSiteName(const std::string& site) {
  return !site.empty() && site.find_first_of("/+#") == std::string::npos;
}

}  // namespace zanvor
