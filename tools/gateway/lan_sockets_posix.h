// The native tool's LAN side on Linux: the interfaces and their IPv4
// addresses, and sending one datagram to a list of targets from a given
// socket. A gateway sends from its receiving socket (source port 38217:
// what a gateway put on a segment is never published again); every other
// sender of the tool sends from a socket whose port is anything but 38217.
#ifndef ZANVOR_TOOLS_GATEWAY_LAN_SOCKETS_POSIX_H_
#define ZANVOR_TOOLS_GATEWAY_LAN_SOCKETS_POSIX_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/unique_fd_posix.h"
#include "gateway/lan.h"

namespace zanvor {

// Every IPv4 address of every interface (getifaddrs), up or not.
std::vector<InterfaceAddress> ListInterfaceAddresses();

// Whether the system has an interface of that name, with or without an
// address.
bool InterfaceExists(const std::string& name);

// A UDP socket that may broadcast, bound to a port of the system's choice
// that is not kUdpPort: a datagram from kUdpPort is one a gateway put on
// the segment, and gateways never publish those. Invalid with *error.
UniqueFd OpenPostingSocket(std::string* error);

// Sends `datagram` from `socket` once to kUdpPort of every target (IPv4, host
// byte order). True when at least one target took it; otherwise *error says
// why the last one did not.
bool SendToTargets(int socket, const std::vector<uint8_t>& datagram,
                   const std::vector<uint32_t>& targets, std::string* error);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_GATEWAY_LAN_SOCKETS_POSIX_H_
