// Network emulation for running several emulated machines under Wine, which
// has no domain-wide mailslots ("\\*\mailslot\..." fails there). It is test
// apparatus, never part of the library or of the release: zanvor_netemu.dll
// holds it, and a host that was given a mode loads the DLL through
// fll_host/network_attach_win.h. After the host loads a link library the DLL
// patches the library's import of kernel32 CreateFileA, so that a
// domain-wide mailslot name is redirected.
//
//   local        "\\*\mailslot\X" opens "\\.\mailslot\X": the machine is the
//                whole network.
//   remote-off   "\\*\mailslot\X" fails with error 3025, as on Windows 11
//                24H2 and Server 2025, where remote mailslots are switched off.
//   relay:PORT   "\\*\mailslot\X" opens a mailslot of the host's own that a
//                host thread drains, forwarding each datagram over loopback
//                UDP to the machine's relay on PORT (zanvor_relay.exe), which
//                delivers it to every emulated machine.
#ifndef ZANVOR_TOOLS_EMULATION_NETWORK_EMULATION_WIN_H_
#define ZANVOR_TOOLS_EMULATION_NETWORK_EMULATION_WIN_H_

#include <windows.h>

#include <cstdint>
#include <string>

namespace zanvor {

class NetworkEmulation {
 public:
  enum class Mode { kOff, kLocal, kRemoteOff, kRelay };

  // Parses "", "off", "local", "remote-off" or "relay:PORT".
  bool Configure(const std::string& mode, std::string* error);
  Mode mode() const { return mode_; }

  // Starts what the mode needs before any library is loaded (the relay
  // mailslot and its forwarding thread).
  bool Start(std::string* error);

  // Patches a freshly loaded library's import of CreateFileA. Does nothing
  // when the emulation is off.
  bool Attach(HMODULE module, std::string* error);

 private:
  Mode mode_ = Mode::kOff;
  uint16_t relayPort_ = 0;
};

// Stands in for kernel32 CreateFileA in the library's import table, and
// opens the mailslot for the host's own posts the same way: a domain-wide
// mailslot name as the mode that Start set emulates it, every other name
// as CreateFileA opens it.
HANDLE WINAPI EmulatedCreateFileA(LPCSTR name, DWORD access, DWORD share,
                                  LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                  HANDLE templateFile);

enum class PatchResult { kPatched, kNotImported, kFailed };

// Replaces `module`'s import address table entry for `dll`!`function` (by
// name; dll compared without letter case) with `replacement`, storing the old
// entry in *original.
PatchResult PatchImport(HMODULE module, const char* dll, const char* function, void* replacement,
                        void** original);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_EMULATION_NETWORK_EMULATION_WIN_H_
