// The gateway's LAN side: which interfaces it receives on and broadcasts to,
// and the site name they give by default.
#ifndef ZANVOR_TOOLS_GATEWAY_LAN_H_
#define ZANVOR_TOOLS_GATEWAY_LAN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "messaging/broadcast_targets.h"

namespace zanvor {

// The addresses that make the LAN side: up and running (an interface whose
// link is down is taken in once its link comes), not loopback, with a subnet
// broadcast (prefix 30 or shorter: a point-to-point uplink, /31 or /32,
// is no LAN), and, when `only` is not empty, on an interface it names.
std::vector<InterfaceAddress> LanAddresses(const std::vector<InterfaceAddress>& all,
                                           const std::vector<std::string>& only);

// The names of `only` that have no address among LanAddresses(all, only):
// an interface that is down or has no IPv4 address yet.
std::vector<std::string> LanInterfacesWaiting(const std::vector<InterfaceAddress>& all,
                                              const std::vector<std::string>& only);

// "net-" + the network address and prefix length of the address whose
// network address is lowest (on a tie, the shorter prefix), e.g.
// "net-10.77.0.0-24"; "" when there is none.
std::string DefaultSiteName(const std::vector<InterfaceAddress>& lan);

// Whether `site` may name a shared subscription: not empty, without "/",
// "+" or "#".
bool IsValidSiteName(const std::string& site);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_GATEWAY_LAN_H_
