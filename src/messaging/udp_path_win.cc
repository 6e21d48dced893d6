#include "messaging/udp_path_win.h"

#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <cstdio>

#include "base/counter_clock_win.h"
#include "contract/network.h"
#include "messaging/packet.h"

namespace zanvor {
namespace {

// Leaves the socket and the session to the process: see WinsockSession.
void AbandonWinsock(UniqueSocket& socket, std::unique_ptr<WinsockSession>& session) {
  socket.release();
  if (session) session->Abandon();
}

}  // namespace

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

bool UdpSender::Open() {
  if (socket_) return true;
  if (!session_) {
    auto session = std::make_unique<WinsockSession>();
    if (!session->ok()) return false;
    session_ = std::move(session);
  }
  UniqueSocket socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!socket) return false;
  const BOOL on = TRUE;
  setsockopt(socket.get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
  socket_ = std::move(socket);
  return true;
}

bool UdpSender::Send(const uint8_t* packet, uint32_t size) {
  if (!Open()) return false;
  bool sent = false;
  for (const uint32_t target : targets_.Targets(GetTickCount(), &UpAdapterAddresses)) {
    const sockaddr_in to = Ipv4Address(target, kUdpPort);
    const int n =
        sendto(socket_.get(), reinterpret_cast<const char*>(packet), static_cast<int>(size), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (n == static_cast<int>(size)) sent = true;
  }
  if (!sent) {
    // Start afresh on the next post: the adapters or the socket may have
    // gone (a network change, a Winsock reset).
    targets_.Forget();
    socket_.reset();
  }
  return sent;
}

UdpSender::~UdpSender() { AbandonWinsock(socket_, session_); }

void UdpSender::Close() {
  socket_.reset();
  session_.reset();
  targets_.Forget();
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
  socket_ = std::move(socket);
  // Also makes the socket non-blocking, which Drain relies on.
  if (!Listen()) {
    ReportOpenFailure(WSAGetLastError());
    socket_.reset();
    return false;
  }
  lastOpenError_ = 0;
  return true;
}

UdpReceiver::~UdpReceiver() { AbandonWinsock(socket_, session_); }

void UdpReceiver::Close() {
  resumeTimer_.reset();
  listening_ = false;
  socket_.reset();
  session_.reset();
}

bool UdpReceiver::Listen() {
  listening_ = WSAAsyncSelect(socket_.get(), window_, message_, FD_READ) == 0;
  return listening_;
}

std::string UdpReceiver::Describe() const {
  if (socket_) return "open";
  if (lastOpenError_ != 0) return "error " + std::to_string(lastOpenError_);
  return "closed";
}

void UdpReceiver::OnNotify(LPARAM lParam) noexcept {
  if (!socket_ || !listening_ || draining_ || WSAGETSELECTEVENT(lParam) != FD_READ) return;
  // Off while we read: see the class comment. Any error is the socket's,
  // and the drain will meet it too.
  WSAAsyncSelect(socket_.get(), window_, 0, 0);
  listening_ = false;
  DrainThenWait();
}

void UdpReceiver::OnResumeTimer() noexcept {
  if (draining_) return;
  if (!socket_ || listening_) {
    resumeTimer_.reset();
    return;
  }
  DrainThenWait();
}

void UdpReceiver::DrainThenWait() noexcept {
  DrainEnd end = DrainEnd::kGaveWayToInput;
  draining_ = true;
  try {
    end = Drain();
  } catch (...) {
    // Nothing may unwind into the message loop; the datagrams behind the
    // one that threw wait for the timer.
  }
  draining_ = false;
  // A handler may have ended the role meanwhile (ZANVOR_EXIT pumped by a
  // host command): Close has stopped everything then.
  if (!socket_) return;
  // When only posted messages wait, the notification that listening brings
  // at once (datagrams wait) queues behind them, so they all come first.
  // Input and timers come only when no posted message waits: for them the
  // queue must empty, with the resume timer at the back.
  if (end == DrainEnd::kGaveWayToInput && resumeProc_ != nullptr) {
    if (!resumeTimer_) resumeTimer_.reset(SetTimer(nullptr, 0, kUdpResumeIntervalMs, resumeProc_));
    if (resumeTimer_) return;
  }
  resumeTimer_.reset();
  // Without a timer the notifications must come back, or nothing more
  // would ever be read.
  Listen();
}

// Reads in slices of kUdpDrainBudgetUs. Between slices it looks at the
// thread's queue: while nothing waits there the host has nothing to do and
// the drain goes on; as soon as something does, it gives way.
UdpReceiver::DrainEnd UdpReceiver::Drain() {
  uint8_t buffer[kPacketBufferSize];
  uint64_t sliceStart = CounterMicroseconds();
  for (int i = 0; i < kUdpDatagramsPerDrain; ++i) {
    if (i > 0 && CounterMicroseconds() - sliceStart >= kUdpDrainBudgetUs) {
      const UINT waiting = HIWORD(GetQueueStatus(QS_ALLINPUT));
      if ((waiting & ~QS_POSTMESSAGE) != 0) return DrainEnd::kGaveWayToInput;
      if (waiting != 0) return DrainEnd::kGaveWayToPosted;
      sliceStart = CounterMicroseconds();
    }
    const int n = recv(socket_.get(), reinterpret_cast<char*>(buffer), sizeof buffer, 0);
    if (n == SOCKET_ERROR) {
      // A datagram larger than the buffer is cut and reported; it is of no
      // size we accept, so it is simply dropped. Anything else
      // (WSAEWOULDBLOCK: nothing left) ends the drain.
      if (WSAGetLastError() == WSAEMSGSIZE) {
        ++state_.counters.udpDatagrams;
        ++state_.counters.bad;
        continue;
      }
      return DrainEnd::kEmptied;
    }
    ++state_.counters.udpDatagrams;
    ReceiveDatagram(buffer, static_cast<uint32_t>(n), GetTickCount(), sink_, state_);
    if (!socket_) return DrainEnd::kEmptied;
  }
  return DrainEnd::kGaveWayToInput;
}

}  // namespace zanvor
