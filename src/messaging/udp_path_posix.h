// The UDP path on POSIX, beside the Windows one (udp_path_win.h), for the
// native build of the tool: the interfaces and the adapters that are up
// (UpAdapterAddresses, declared in broadcast_targets.h), the sending socket
// of a post and the sending of its datagram to every target, the listening
// socket, and a post's packet id and seed ticks.
#ifndef ZANVOR_MESSAGING_UDP_PATH_POSIX_H_
#define ZANVOR_MESSAGING_UDP_PATH_POSIX_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/unique_fd_posix.h"
#include "messaging/broadcast_targets.h"
#include "messaging/packet.h"

namespace zanvor {

// Every IPv4 address of every interface (getifaddrs), up or not; empty when
// they cannot be listed.
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

// A UDP socket bound to kUdpPort on every IPv4 address with SO_REUSEADDR,
// as a server instance binds it, so that it receives beside them. Invalid
// with *error on failure.
UniqueFd OpenListeningSocket(std::string* error);

// A fresh packet id (random bytes, never all zero) and the seed ticks: the
// milliseconds since the system started, as GetTickCount counts them.
void MakePacketId(uint8_t id[kPacketIdSize]);
uint32_t TickCount();

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_UDP_PATH_POSIX_H_
