#include "messaging/udp_path_posix.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "contract/network.h"

namespace zanvor {
namespace {

sockaddr_in Ipv4(uint32_t address, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(address);
  return to;
}

uint8_t PrefixLength(uint32_t mask) {
  uint8_t length = 0;
  while (length < 32 && (mask & (0x80000000u >> length)) != 0) ++length;
  return length;
}

std::string ErrnoText(const char* call, int error) {
  return std::string(call) + " failed: " + std::strerror(error);
}

}  // namespace

std::vector<InterfaceAddress> ListInterfaceAddresses() {
  std::vector<InterfaceAddress> result;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return result;
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    InterfaceAddress entry;
    entry.name = a->ifa_name;
    entry.index = if_nametoindex(a->ifa_name);
    entry.up = (a->ifa_flags & IFF_UP) != 0;
    entry.running = (a->ifa_flags & IFF_RUNNING) != 0;
    entry.loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
    const uint32_t mask =
        a->ifa_netmask == nullptr
            ? 0xFFFFFFFFu
            : ntohl(reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr);
    entry.address = {ntohl(reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr),
                     PrefixLength(mask)};
    result.push_back(entry);
  }
  freeifaddrs(list);
  return result;
}

bool InterfaceExists(const std::string& name) { return if_nametoindex(name.c_str()) != 0; }

std::vector<AdapterAddress> UpAdapterAddresses() {
  std::vector<AdapterAddress> result;
  for (const InterfaceAddress& a : ListInterfaceAddresses()) {
    if (a.up && !a.loopback) result.push_back(a.address);
  }
  return result;
}

UniqueFd OpenPostingSocket(std::string* error) {
  // The system picks ephemeral ports from a range that holds 38217; while a
  // gateway or a server instance holds it, it is never picked, but nothing
  // may depend on one running. A socket that got it is closed and another
  // one bound: the next pick is another port.
  for (int attempt = 0; attempt < 8; ++attempt) {
    UniqueFd socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!socket) {
      *error = std::string("socket failed: ") + std::strerror(errno);
      return UniqueFd();
    }
    const int on = 1;
    setsockopt(socket.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof any;
    if (bind(socket.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0 ||
        getsockname(socket.get(), reinterpret_cast<sockaddr*>(&any), &length) != 0) {
      *error = std::string("bind failed: ") + std::strerror(errno);
      return UniqueFd();
    }
    if (ntohs(any.sin_port) != kUdpPort) return socket;
  }
  *error = "the system kept giving the sending socket port " + std::to_string(kUdpPort);
  return UniqueFd();
}

bool SendToTargets(int socket, const std::vector<uint8_t>& datagram,
                   const std::vector<uint32_t>& targets, std::string* error) {
  bool sent = false;
  for (const uint32_t target : targets) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kUdpPort);
    to.sin_addr.s_addr = htonl(target);
    const ssize_t n = sendto(socket, datagram.data(), datagram.size(), 0,
                             reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (n == static_cast<ssize_t>(datagram.size())) {
      sent = true;
    } else {
      *error = std::string("sendto failed: ") + std::strerror(errno);
    }
  }
  return sent;
}

UniqueFd OpenListeningSocket(std::string* error) {
  UniqueFd socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!socket) {
    *error = ErrnoText("socket", errno);
    return UniqueFd();
  }
  const int on = 1;
  setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const int bufferBytes = kUdpReceiveBufferBytes;
  setsockopt(socket.get(), SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
  const sockaddr_in any = Ipv4(INADDR_ANY, kUdpPort);
  if (bind(socket.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
    *error = "cannot bind UDP port " + std::to_string(kUdpPort) + ": " + std::strerror(errno);
    return UniqueFd();
  }
  return socket;
}

void MakePacketId(uint8_t id[kPacketIdSize]) {
  static uint32_t counter = 0;
  if (getrandom(id, kPacketIdSize, 0) == kPacketIdSize) {
    for (int i = 0; i < kPacketIdSize; ++i) {
      if (id[i] != 0) return;
    }
  }
  // The all-zero id counts as seen in a fresh duplicate filter.
  FallbackPacketId(TickCount(), static_cast<uint32_t>(getpid()), ++counter, id);
}

// As GetTickCount counts: milliseconds of the monotonic clock, wrapping at
// 32 bits.
uint32_t TickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000 +
                               static_cast<uint64_t>(now.tv_nsec) / 1000000);
}

}  // namespace zanvor
