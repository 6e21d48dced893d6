// An owner for Winsock sockets and one for a Winsock session. winsock2.h
// must come before windows.h, so include this first.
#ifndef ZANVOR_BASE_UNIQUE_SOCKET_WIN_H_
#define ZANVOR_BASE_UNIQUE_SOCKET_WIN_H_

#include <winsock2.h>

#include <atomic>
#include <cstdint>

#include "base/unique_handle_win.h"

namespace zanvor {

struct SocketTraits {
  using Handle = SOCKET;
  static Handle Invalid() { return INVALID_SOCKET; }
  static void Close(Handle h) { closesocket(h); }
};
using UniqueSocket = UniqueResource<SocketTraits>;

// An IPv4 socket address from an address and a port in host byte order.
inline sockaddr_in Ipv4Address(uint32_t address, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(address);
  return to;
}

// WSAStartup for as long as the object lives. Winsock counts sessions, so
// each user of sockets holds its own. Release the session from a call of the
// host's (ZANVOR_EXIT), never from DllMain or a static destructor: WSACleanup
// under the loader lock can deadlock. An owner destroyed while it still
// holds one calls Abandon first, and the session lasts as long as the
// process.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data;
    error_ = WSAStartup(MAKEWORD(2, 2), &data);
    if (error_ == 0) ++held_;
  }
  ~WinsockSession() {
    if (error_ != 0 || abandoned_) return;
    --held_;
    WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  bool ok() const { return error_ == 0; }
  int error() const { return error_; }
  // The destructor will not call WSACleanup; the session stays held.
  void Abandon() { abandoned_ = true; }

  // Sessions started by this module's objects and not ended: what the
  // library still holds of Winsock (the tests check it after an unload).
  static int Held() { return held_.load(); }

 private:
  static inline std::atomic<int> held_{0};
  int error_;
  bool abandoned_ = false;
};

}  // namespace zanvor

#endif  // ZANVOR_BASE_UNIQUE_SOCKET_WIN_H_
