// clang-format off
// winsock2.h must come before windows.h.
#include "base/unique_socket_win.h"
// clang-format on

#include "flood.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/counter_clock_win.h"
#include "base/unique_handle_win.h"
#include "contract/network.h"
#include "messaging/packet.h"

namespace zanvor {
namespace {

// A mailslot write that takes longer than this waited for room.
constexpr uint64_t kBlockedWriteUs = 10000;
// What the packets' ids and seeds are made from besides the sequence
// number: fixed, so that every flood process makes the same packets.
constexpr uint32_t kFloodTicks = 0x0B5E55ED;
constexpr uint32_t kFloodTag = 0x00F100D5;

using Packet = std::vector<uint8_t>;

std::vector<Packet> MakePackets(uint64_t count) {
  std::vector<Packet> packets;
  packets.reserve(count);
  uint8_t buffer[kPacketBufferSize];
  for (uint64_t seq = 1; seq <= count; ++seq) {
    const std::string payload = "bench:" + std::to_string(seq);
    uint8_t id[kPacketIdSize];
    FallbackPacketId(kFloodTicks, kFloodTag, static_cast<uint32_t>(seq), id);
    const int32_t size = CMsgPack().Pack(reinterpret_cast<const uint8_t*>(payload.data()),
                                         static_cast<int32_t>(payload.size()), buffer,
                                         sizeof buffer, id, kFloodTicks);
    packets.emplace_back(buffer, buffer + size);
  }
  return packets;
}

// READY, then the go line (or the end of the input).
void AwaitGo() {
  std::printf("READY\n");
  std::fflush(stdout);
  char line[16];
  if (std::fgets(line, sizeof line, stdin) == nullptr) return;
}

}  // namespace

int RunMailslotFlood(uint64_t count, uint64_t copies) {
  UniqueFile mailslot(CreateFileA(kServerMailslotName, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!mailslot) {
    std::fprintf(stderr, "flood: cannot open %s: error %lu\n", kServerMailslotName, GetLastError());
    return 1;
  }
  const std::vector<Packet> packets = MakePackets(count);
  AwaitGo();
  uint64_t failed = 0;
  DWORD firstError = 0;
  uint64_t slowestWrite = 0;
  uint64_t firstBlocked = 0;
  const uint64_t start = CounterMicroseconds();
  for (size_t i = 0; i < packets.size(); ++i) {
    for (uint64_t copy = 0; copy < copies; ++copy) {
      DWORD written = 0;
      const uint64_t before = CounterMicroseconds();
      if (!WriteFile(mailslot.get(), packets[i].data(), static_cast<DWORD>(packets[i].size()),
                     &written, nullptr)) {
        if (failed++ == 0) firstError = GetLastError();
      }
      // A write that takes this long waited for the reader: the mailslot
      // was full. Wine holds a bounded amount per mailslot (a socket
      // buffer) and then blocks the writer until the server's receive tick
      // makes room.
      const uint64_t took = CounterMicroseconds() - before;
      if (took >= kBlockedWriteUs && firstBlocked == 0) firstBlocked = i + 1;
      slowestWrite = std::max(slowestWrite, took);
    }
  }
  const uint64_t elapsed = CounterMicroseconds() - start;
  std::printf("wrote=%llu failed=%llu elapsed_us=%llu slowest_write_us=%llu first_blocked=%llu\n",
              static_cast<unsigned long long>(count * copies - failed),
              static_cast<unsigned long long>(failed), static_cast<unsigned long long>(elapsed),
              static_cast<unsigned long long>(slowestWrite),
              static_cast<unsigned long long>(firstBlocked));
  if (failed != 0) std::fprintf(stderr, "flood: first failed write: error %lu\n", firstError);
  return failed == 0 ? 0 : 1;
}

int RunUdpFlood(uint64_t count, const char* address) {
  const unsigned long target = inet_addr(address);
  if (target == INADDR_NONE) {
    std::fprintf(stderr, "flood: not an IPv4 address: %s\n", address);
    return 2;
  }
  WinsockSession session;
  if (!session.ok()) {
    std::fprintf(stderr, "flood: WSAStartup failed: error %d\n", session.error());
    return 1;
  }
  UniqueSocket socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!socket) {
    std::fprintf(stderr, "flood: socket failed: error %d\n", WSAGetLastError());
    return 1;
  }
  const sockaddr_in to = Ipv4Address(ntohl(target), kUdpPort);
  const std::vector<Packet> packets = MakePackets(count);
  AwaitGo();
  uint64_t failed = 0;
  int firstError = 0;
  const uint64_t start = CounterMicroseconds();
  for (const Packet& packet : packets) {
    const int n = sendto(socket.get(), reinterpret_cast<const char*>(packet.data()),
                         static_cast<int>(packet.size()), 0, reinterpret_cast<const sockaddr*>(&to),
                         sizeof to);
    if (n != static_cast<int>(packet.size()) && failed++ == 0) firstError = WSAGetLastError();
  }
  const uint64_t elapsed = CounterMicroseconds() - start;
  std::printf("sent=%llu failed=%llu elapsed_us=%llu\n",
              static_cast<unsigned long long>(count - failed),
              static_cast<unsigned long long>(failed), static_cast<unsigned long long>(elapsed));
  if (failed != 0) std::fprintf(stderr, "flood: first failed send: error %d\n", firstError);
  return failed == 0 ? 0 : 1;
}

}  // namespace zanvor
