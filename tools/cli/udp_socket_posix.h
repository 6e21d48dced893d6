// The native build's edge to the network: the adapters that are up, the
// sending of one post's datagram to every target, and the listening socket.
#ifndef ZANVOR_TOOLS_CLI_UDP_SOCKET_POSIX_H_
#define ZANVOR_TOOLS_CLI_UDP_SOCKET_POSIX_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/unique_fd_posix.h"
#include "messaging/broadcast_targets.h"
#include "messaging/packet.h"

namespace zanvor {

// The IPv4 addresses of the adapters that are up and are not loopback
// adapters, from getifaddrs (empty when they cannot be listed).
std::vector<AdapterAddress> UpIpv4Adapters();

// Sends `datagram` once to kUdpPort of every BroadcastTargets address of the
// adapters. True when at least one target took it; otherwise *error says
// why the last one did not.
bool SendToEveryTarget(const std::vector<uint8_t>& datagram, std::string* error);

// A UDP socket bound to kUdpPort on every IPv4 address with SO_REUSEADDR,
// as a server instance binds it, so that it receives beside them. Invalid
// with *error on failure.
UniqueFd OpenListeningSocket(std::string* error);

// A fresh packet id (random bytes, never all zero) and the seed ticks: the
// milliseconds since the system started, as GetTickCount counts them.
void MakePacketId(uint8_t id[kPacketIdSize]);
uint32_t TickCount();

// Milliseconds since 1970-01-01 UTC, and of a clock that never steps back.
int64_t UnixMilliseconds();
int64_t MonotonicMilliseconds();

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_CLI_UDP_SOCKET_POSIX_H_
