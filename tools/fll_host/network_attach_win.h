// The one seam between the hosts of a link library and the emulation of the
// domain-wide mailslot, which Wine lacks ("\\*\mailslot\..." fails there).
// The emulation itself is test apparatus (tools/emulation, built as
// zanvor_netemu.dll) and is not in the release: a host given a mode other
// than "" or "off" loads that DLL from beside its own program and hands it
// each library it loads, whose import of CreateFileA the DLL then patches.
// With no mode the host loads nothing and opens mailslots as CreateFileA
// does. The modes are the DLL's (local, remote-off, relay:PORT).
#ifndef ZANVOR_TOOLS_FLL_HOST_NETWORK_ATTACH_WIN_H_
#define ZANVOR_TOOLS_FLL_HOST_NETWORK_ATTACH_WIN_H_

#include <windows.h>

#include <string>

// What zanvor_netemu.dll exports, C names and calling convention. The
// functions return kNetworkOk or one of the failures, with a NUL-ended
// reason of at most errorSize bytes in `error`.
extern "C" {
constexpr int kNetworkOk = 0;
constexpr int kNetworkUnknownMode = 1;  // the command line was wrong
constexpr int kNetworkFailed = 2;
// Parses the mode and starts what it needs before any library is loaded.
typedef int (*ZanvorNetworkStartFunction)(const char* mode, char* error, int errorSize);
// Patches a freshly loaded library's import of CreateFileA.
typedef int (*ZanvorNetworkAttachFunction)(HMODULE module, char* error, int errorSize);
// CreateFileA as the patched library sees it, for the host's own opens.
typedef HANDLE (*ZanvorNetworkCreateFileFunction)(const char* name, DWORD access, DWORD share,
                                                  DWORD disposition, DWORD flags);
}

namespace zanvor {

constexpr char kNetworkEmulationDll[] = "zanvor_netemu.dll";

class NetworkAttachment {
 public:
  NetworkAttachment() = default;
  NetworkAttachment(const NetworkAttachment&) = delete;
  NetworkAttachment& operator=(const NetworkAttachment&) = delete;

  // Starts the mode `given` on the command line (when givenOnCommandLine),
  // else ZANVOR_NETWORK's, else none. Returns kExitSuccess, or the tool's
  // exit code with *errorLine, the line to print. Call once, before any
  // library is loaded.
  int Start(const std::string& given, bool givenOnCommandLine, std::string* errorLine);

  // Hands a freshly loaded library to the emulation; true without one.
  bool Attach(HMODULE module, std::string* error);

  // Opens `name` as the attached libraries would (a domain-wide mailslot
  // through the emulation when one runs).
  HANDLE Open(const char* name, DWORD access, DWORD share, DWORD disposition, DWORD flags);

 private:
  // The DLL stays loaded for the rest of the process once loaded: the
  // patched imports and the relay's forwarding thread run its code. So it
  // is deliberately not freed, and only the entry points are kept.
  ZanvorNetworkAttachFunction attach_ = nullptr;
  ZanvorNetworkCreateFileFunction createFile_ = nullptr;
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_FLL_HOST_NETWORK_ATTACH_WIN_H_
