// Where the UDP copy of a post goes: the subnet-directed broadcast address
// of every IPv4 address of every adapter that is up and not a loopback
// adapter (255.255.255.255 leaves by one adapter only, so it alone would
// miss machines on a second one), and the loopback address, so that the
// poster's own machine always receives its post, adapters or not.
#ifndef ZANVOR_MESSAGING_BROADCAST_TARGETS_H_
#define ZANVOR_MESSAGING_BROADCAST_TARGETS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace zanvor {

constexpr uint32_t kLoopbackAddress = 0x7F000001;  // 127.0.0.1

// One unicast address of an adapter, in host byte order.
struct AdapterAddress {
  uint32_t address;
  uint8_t prefixLength;  // 0..32
};

// An IPv4 address of a network interface, as the system lists them (the
// native build's: ListInterfaceAddresses in udp_path_posix.h).
struct InterfaceAddress {
  std::string name;
  unsigned index = 0;
  bool up = false;       // set up by its administrator
  bool running = false;  // with a link: only then does it carry anything
  bool loopback = false;
  AdapterAddress address{};
};

// The IPv4 unicast addresses of the adapters that are up and are not
// loopback adapters (empty when they cannot be listed). The OS's own: each
// build's UDP path defines it (udp_path_win.cc, udp_path_posix.cc).
std::vector<AdapterAddress> UpAdapterAddresses();

// The broadcast address of `address`/`prefixLength`, or 0 when the prefix
// leaves no broadcast (/31 and /32 links; a prefix over 32).
uint32_t SubnetBroadcast(uint32_t address, uint8_t prefixLength);

// Every distinct broadcast address of `addresses`, in their order, then
// kLoopbackAddress. Loopback addresses (127/8) give no broadcast target.
std::vector<uint32_t> BroadcastTargets(const std::vector<AdapterAddress>& addresses);

// The targets of the last listing, listed again once kTargetsLifetimeMs have
// passed or after Forget: listing the adapters takes milliseconds (far more
// than the send), and adapters change rarely.
class BroadcastTargetCache {
 public:
  static constexpr uint32_t kTargetsLifetimeMs = 2000;
  using Lister = std::vector<AdapterAddress> (*)();

  // `nowMs` is a millisecond tick count that may wrap.
  const std::vector<uint32_t>& Targets(uint32_t nowMs, Lister list);
  // The next Targets lists again (a send found no target that took it).
  void Forget() { listed_ = false; }

 private:
  std::vector<uint32_t> targets_;
  uint32_t listedAtMs_ = 0;
  bool listed_ = false;
};

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_BROADCAST_TARGETS_H_
