// The native tool's LAN interfaces on Linux: every interface's IPv4
// addresses and whether an interface of a name exists. (The sending socket
// and the sending itself are the UDP path's: messaging/udp_path_posix.h.)
#ifndef ZANVOR_TOOLS_GATEWAY_LAN_SOCKETS_POSIX_H_
#define ZANVOR_TOOLS_GATEWAY_LAN_SOCKETS_POSIX_H_

#include <cstdint>
#include <string>
#include <vector>

#include "gateway/lan.h"

namespace zanvor {

// Every IPv4 address of every interface (getifaddrs), up or not.
std::vector<InterfaceAddress> ListInterfaceAddresses();

// Whether the system has an interface of that name, with or without an
// address.
bool InterfaceExists(const std::string& name);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_GATEWAY_LAN_SOCKETS_POSIX_H_
