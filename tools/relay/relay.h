// zanvor_relay.exe: one emulated machine's end of the emulated network.
// It listens on a loopback UDP port; every datagram it receives it writes to
// the machine's server mailslot (dropped when no one has created it, as on a
// real network), and every datagram that came from the machine's own hosts
// (any sender that is not a peer relay) it also forwards to each peer relay.
// Datagrams from peers are never forwarded again, so there are no loops.
#ifndef ZANVOR_TOOLS_RELAY_RELAY_H_
#define ZANVOR_TOOLS_RELAY_RELAY_H_

// winsock2.h must come before windows.h.
#include <winsock2.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/unique_socket_win.h"
#include "contract/network.h"

namespace zanvor {

struct RelayOptions {
  uint16_t port = 0;
  // Peer relays: an IPv4 address (host byte order) and a port each.
  std::vector<std::pair<uint32_t, uint16_t>> peers;
  std::string mailslot = kServerMailslotName;
  // Real broadcasts may arrive twice; this delivers every datagram twice.
  bool twice = false;
  bool verbose = false;
};

// Parses the command line; false with *error for bad or missing options.
bool ParseRelayOptions(const std::vector<std::string>& args, RelayOptions* options,
                       std::string* error);

class Relay {
 public:
  explicit Relay(RelayOptions options)
      : options_(std::move(options)), buffer_(kForwardBufferBytes) {}

  // Binds port on every address (hosts reach it on 127.0.0.1, peer relays
  // on the emulated LAN). REQUIRES: WSAStartup done.
  bool Open(std::string* error);
  // Receives and handles one datagram; false with the socket error in
  // *error when receiving failed.
  bool HandleOne(int* error);

 private:
  int Deliver(const char* data, int size);
  bool IsPeer(const sockaddr_in& from) const;

  static constexpr int kForwardBufferBytes = 64 * 1024;

  RelayOptions options_;
  UniqueSocket socket_;
  std::vector<char> buffer_;
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_RELAY_RELAY_H_
