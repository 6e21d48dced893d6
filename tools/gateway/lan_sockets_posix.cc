#include "gateway/lan_sockets_posix.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace zanvor {
std::vector<InterfaceAddress> ListInterfaceAddresses() {
  std::vector<InterfaceAddress> result;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return result;
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    InterfaceAddress entry;
    entry.name = a->ifa_name;
    entry.index = if_nametoindex(a->ifa_name);
    // IFF_RUNNING too: an interface set up whose link is down carries
    // nothing, and is taken in once its link comes.
    entry.up = (a->ifa_flags & IFF_UP) != 0 && (a->ifa_flags & IFF_RUNNING) != 0;
    entry.loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
    const uint32_t mask =
        a->ifa_netmask == nullptr
            ? 0xFFFFFFFFu
            : ntohl(reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr);
    entry.address = {ntohl(reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr),
                     static_cast<uint8_t>(__builtin_popcount(mask))};
    result.push_back(entry);
  }
  freeifaddrs(list);
  return result;
}

bool InterfaceExists(const std::string& name) { return if_nametoindex(name.c_str()) != 0; }

}  // namespace zanvor
