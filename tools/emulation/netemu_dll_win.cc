// zanvor_netemu.dll: the network emulation behind the hosts' seam
// (fll_host/network_attach_win.h). Its entry points are called from the
// host's frames but across a module boundary, so nothing is thrown out of
// them.
#include <windows.h>

#include <cstdio>
#include <string>

#include "emulation/network_emulation_win.h"
#include "fll_host/network_attach_win.h"

namespace zanvor {
namespace {

// The host starts one emulation per process and attaches every library it
// loads to it.
NetworkEmulation g_emulation;

int Fail(int result, const std::string& text, char* error, int errorSize) {
  if (errorSize > 0) std::snprintf(error, static_cast<size_t>(errorSize), "%s", text.c_str());
  return result;
}

}  // namespace
}  // namespace zanvor

extern "C" __declspec(dllexport) int ZanvorNetworkStart(const char* mode, char* error,
                                                        int errorSize) {
  try {
    std::string text;
    if (!zanvor::g_emulation.Configure(mode, &text)) {
      return zanvor::Fail(kNetworkUnknownMode, text, error, errorSize);
    }
    if (!zanvor::g_emulation.Start(&text)) {
      return zanvor::Fail(kNetworkFailed, text, error, errorSize);
    }
    return kNetworkOk;
  } catch (...) {
    return zanvor::Fail(kNetworkFailed, "out of memory", error, errorSize);
  }
}

extern "C" __declspec(dllexport) int ZanvorNetworkAttach(HMODULE module, char* error,
                                                         int errorSize) {
  try {
    std::string text;
    if (zanvor::g_emulation.Attach(module, &text)) return kNetworkOk;
    return zanvor::Fail(kNetworkFailed, text, error, errorSize);
  } catch (...) {
    return zanvor::Fail(kNetworkFailed, "out of memory", error, errorSize);
  }
}

extern "C" __declspec(dllexport) HANDLE
    ZanvorNetworkCreateFile(const char* name, DWORD access, DWORD share, DWORD disposition,
                            DWORD flags) {
  return zanvor::EmulatedCreateFileA(name, access, share, nullptr, disposition, flags, nullptr);
}
