// An owner for Winsock sockets, for the host's network emulation and the
// relay. winsock2.h must come before windows.h, so include this first.
#ifndef ZANVOR_TOOLS_COMMON_UNIQUE_SOCKET_H_
#define ZANVOR_TOOLS_COMMON_UNIQUE_SOCKET_H_

#include <winsock2.h>

#include "base/unique_handle_win.h"

namespace zanvor {

struct SocketTraits {
  using Handle = SOCKET;
  static Handle Invalid() { return INVALID_SOCKET; }
  static void Close(Handle h) { closesocket(h); }
};
using UniqueSocket = UniqueResource<SocketTraits>;

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_COMMON_UNIQUE_SOCKET_H_
