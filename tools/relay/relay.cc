#include "relay.h"

#include <cstdio>
#include <cstdlib>

namespace zanvor {
namespace {

bool ParsePort(const std::string& text, uint16_t* port) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != 0 || value <= 0 || value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

// PORT (a relay on 127.0.0.1) or A.B.C.D:PORT.
bool ParsePeer(const std::string& text, std::pair<uint32_t, uint16_t>* peer) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) {
    peer->first = INADDR_LOOPBACK;
    return ParsePort(text, &peer->second);
  }
  unsigned a, b, c, d;
  char tail;
  if (std::sscanf(text.substr(0, colon).c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4 ||
      a > 255 || b > 255 || c > 255 || d > 255) {
    return false;
  }
  peer->first = a << 24 | b << 16 | c << 8 | d;
  return ParsePort(text.substr(colon + 1), &peer->second);
}

void WriteLine(const std::string& line) {
  const std::string data = line + "\n";
  DWORD wrote = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), data.data(), static_cast<DWORD>(data.size()), &wrote,
            nullptr);
}

}  // namespace

bool ParseRelayOptions(const std::vector<std::string>& args, RelayOptions* options,
                       std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--port" && hasValue) {
      if (!ParsePort(args[++i], &options->port)) {
        *error = "bad port " + args[i];
        return false;
      }
    } else if (arg == "--peer" && hasValue) {
      std::pair<uint32_t, uint16_t> peer;
      if (!ParsePeer(args[++i], &peer)) {
        *error = "bad peer " + args[i];
        return false;
      }
      options->peers.push_back(peer);
    } else if (arg == "--mailslot" && hasValue) {
      options->mailslot = args[++i];
    } else if (arg == "--twice") {
      options->twice = true;
    } else if (arg == "--verbose") {
      options->verbose = true;
    } else {
      *error = "unknown or incomplete option " + arg;
      return false;
    }
  }
  if (options->port == 0) {
    *error = "--port is required";
    return false;
  }
  return true;
}

bool Relay::Open(std::string* error) {
  socket_.reset(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!socket_) {
    *error = "socket failed: error " + std::to_string(WSAGetLastError());
    return false;
  }
  const sockaddr_in address = Ipv4Address(INADDR_ANY, options_.port);
  if (bind(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    *error = "bind to port " + std::to_string(options_.port) + " failed: error " +
             std::to_string(WSAGetLastError());
    return false;
  }
  return true;
}

bool Relay::IsPeer(const sockaddr_in& from) const {
  // Peers send from the address and port they listen on; hosts send from
  // 127.0.0.1 and ephemeral ports, which never collide with a peer's.
  const uint32_t ip = ntohl(from.sin_addr.s_addr);
  const uint16_t port = ntohs(from.sin_port);
  for (const auto& peer : options_.peers) {
    if (peer.second == port && peer.first == ip) return true;
  }
  return false;
}

int Relay::Deliver(const char* data, int size) {
  int delivered = 0;
  for (int copy = 0; copy < (options_.twice ? 2 : 1); ++copy) {
    UniqueFile slot(CreateFileA(options_.mailslot.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!slot) continue;  // no server instance on this machine: dropped
    DWORD wrote = 0;
    if (WriteFile(slot.get(), data, static_cast<DWORD>(size), &wrote, nullptr)) ++delivered;
  }
  return delivered;
}

bool Relay::HandleOne(int* error) {
  char* const buffer = buffer_.data();
  sockaddr_in from{};
  int fromLength = sizeof from;
  const int size = recvfrom(socket_.get(), buffer, kForwardBufferBytes, 0,
                            reinterpret_cast<sockaddr*>(&from), &fromLength);
  if (size == SOCKET_ERROR) {
    // Windows reports an ICMP "port unreachable" for an earlier send to a
    // peer that is not running as an error on the next receive; it says
    // nothing about this socket.
    *error = WSAGetLastError();
    return *error == WSAECONNRESET || *error == WSAEMSGSIZE;
  }
  const bool fromPeer = IsPeer(from);
  const int delivered = Deliver(buffer, size);
  if (!fromPeer) {
    for (const auto& peer : options_.peers) {
      const sockaddr_in to = Ipv4Address(peer.first, peer.second);
      sendto(socket_.get(), buffer, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
  }
  if (options_.verbose) {
    char line[128];
    std::snprintf(line, sizeof line, "RELAY {\"from\": \"%s\", \"bytes\": %d, \"delivered\": %d}",
                  fromPeer ? "peer" : "host", size, delivered);
    WriteLine(line);
  }
  return true;
}

}  // namespace zanvor
