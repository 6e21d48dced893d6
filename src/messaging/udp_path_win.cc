#include "messaging/udp_path_win.h"

#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <cstdio>

#include "contract/network.h"
#include "messaging/packet.h"

namespace zanvor {
std::vector<AdapterAddress> UpAdapterAddresses() {
  std::vector<AdapterAddress> result;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG bytes = 16 * 1024;
  std::vector<uint8_t> buffer;
  ULONG r = ERROR_BUFFER_OVERFLOW;
  // The list can grow between the two calls; a few tries are plenty.
  for (int attempt = 0; attempt < 4 && r == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(bytes);
    r = GetAdaptersAddresses(AF_INET, flags, nullptr,
                             reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &bytes);
  }
  if (r != NO_ERROR) return result;
  for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a != nullptr;
       a = a->Next) {
    if (a->OperStatus != IfOperStatusUp || a->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
    for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
      const sockaddr* sa = u->Address.lpSockaddr;
      if (sa == nullptr || sa->sa_family != AF_INET) continue;
      const auto* in = reinterpret_cast<const sockaddr_in*>(sa);
      result.push_back({ntohl(in->sin_addr.s_addr), u->OnLinkPrefixLength});
    }
  }
  return result;
}

bool SendOverUdp(const uint8_t* packet, uint32_t size) {
  WinsockSession session;
  if (!session.ok()) return false;
  UniqueSocket socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!socket) return false;
  const BOOL on = TRUE;
  setsockopt(socket.get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
  bool sent = false;
  for (const uint32_t target : BroadcastTargets(UpAdapterAddresses())) {
    const sockaddr_in to = Ipv4Address(target, kUdpPort);
    const int n =
        sendto(socket.get(), reinterpret_cast<const char*>(packet), static_cast<int>(size), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (n == static_cast<int>(size)) sent = true;
  }
  return sent;
}

void UdpReceiver::ReportOpenFailure(int error) {
  lastOpenError_ = error;
  if (!reportOpenErrors_) return;
  reportOpenErrors_ = false;
  char text[96];
  snprintf(text, sizeof text, "Unable to receive on UDP port %u. Error: %d",
           static_cast<unsigned>(kUdpPort), error);
  sink_.ShowErrorBox(text);
}

bool UdpReceiver::Open() {
  if (socket_) return true;
  if (!session_) {
    auto session = std::make_unique<WinsockSession>();
    if (!session->ok()) {
      ReportOpenFailure(session->error());
      return false;
    }
    session_ = std::move(session);
  }
  UniqueSocket socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!socket) {
    ReportOpenFailure(WSAGetLastError());
    return false;
  }
  const BOOL on = TRUE;
  setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
  // UDP drops whatever no buffer holds; a burst on both paths must fit.
  const int bufferBytes = kUdpReceiveBufferBytes;
  setsockopt(socket.get(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bufferBytes),
             sizeof bufferBytes);
  const sockaddr_in any = Ipv4Address(INADDR_ANY, kUdpPort);
  if (bind(socket.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
    ReportOpenFailure(WSAGetLastError());
    return false;
  }
  // Also makes the socket non-blocking, which OnNotify relies on.
  if (WSAAsyncSelect(socket.get(), window_, message_, FD_READ) != 0) {
    ReportOpenFailure(WSAGetLastError());
    return false;
  }
  socket_ = std::move(socket);
  lastOpenError_ = 0;
  return true;
}

void UdpReceiver::Close() { socket_.reset(); }

std::string UdpReceiver::Describe() const {
  if (socket_) return "open";
  if (lastOpenError_ != 0) return "error " + std::to_string(lastOpenError_);
  return "closed";
}

void UdpReceiver::OnNotify(LPARAM lParam) noexcept {
  try {
    if (!socket_ || WSAGETSELECTEVENT(lParam) != FD_READ) return;
    uint8_t buffer[kPacketBufferSize];
    for (int i = 0; i < kDatagramsPerTick; ++i) {
      const int n = recv(socket_.get(), reinterpret_cast<char*>(buffer), sizeof buffer, 0);
      if (n == SOCKET_ERROR) {
        // A datagram larger than the buffer is cut and reported; it is of
        // no size we accept, so it is simply dropped. Anything else
        // (WSAEWOULDBLOCK: nothing left) ends this notification.
        if (WSAGetLastError() == WSAEMSGSIZE) {
          ++state_.counters.udpDatagrams;
          ++state_.counters.bad;
          continue;
        }
        return;
      }
      ++state_.counters.udpDatagrams;
      ReceiveDatagram(buffer, static_cast<uint32_t>(n), sink_, state_);
      // The sink may have run a host command that pumped messages and
      // ended the role (ZANVOR_EXIT from a handler): stop reading then.
      if (!socket_) return;
    }
  } catch (...) {
    // Nothing may unwind into the message loop that called the window.
  }
}

}  // namespace zanvor
