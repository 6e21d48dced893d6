// clang-format off
// winsock2.h must come before windows.h, which network_win.h includes.
#include "base/unique_socket_win.h"
#include "emulation/network_emulation_win.h"
// clang-format on

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "base/unique_handle_win.h"
#include "contract/network.h"

namespace zanvor {
namespace {

using CreateFileAFunction = HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                                            DWORD, HANDLE);

constexpr char kDomainPrefix[] = "\\\\*\\mailslot\\";
constexpr char kLocalPrefix[] = "\\\\.\\mailslot\\";
constexpr size_t kDomainPrefixLength = sizeof kDomainPrefix - 1;
// Datagrams of the protocol are far smaller; a mailslot read needs a buffer
// at least as large as the waiting message.
constexpr DWORD kForwardBufferBytes = 64 * 1024;

// Read by the replacement CreateFileA, which the library may call at any
// time; written only before a library is patched.
NetworkEmulation::Mode g_mode = NetworkEmulation::Mode::kOff;
CreateFileAFunction g_createFileA = &CreateFileA;
char g_relayMailslot[MAX_PATH] = "";

bool StartsWithNoCase(const char* s, const char* prefix, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (s[i] == 0) return false;
    const char a = (s[i] >= 'A' && s[i] <= 'Z') ? static_cast<char>(s[i] - 'A' + 'a') : s[i];
    const char b = (prefix[i] >= 'A' && prefix[i] <= 'Z') ? static_cast<char>(prefix[i] - 'A' + 'a')
                                                          : prefix[i];
    if (a != b) return false;
  }
  return true;
}

// Everything the forwarding thread uses; it lives as long as the thread,
// which ends with the process.
struct Forwarder {
  UniqueFile mailslot;
  UniqueSocket socket;
  sockaddr_in relay{};
};

DWORD WINAPI ForwardDatagrams(void* parameter) {
  const std::unique_ptr<Forwarder> forwarder(static_cast<Forwarder*>(parameter));
  // Allocated once, before the loop; the thread's start routine is called
  // by Windows, so the one allocation that could throw is caught here.
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kForwardBufferBytes]);
  if (buffer == nullptr) return 1;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(forwarder->mailslot.get(), buffer.get(), kForwardBufferBytes, &got, nullptr)) {
      // A datagram too large for the buffer is lost, as on a real network;
      // anything else means the mailslot is gone.
      if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) continue;
      return 1;
    }
    // Loss is possible on a real network too: a failed send is not retried.
    sendto(forwarder->socket.get(), buffer.get(), static_cast<int>(got), 0,
           reinterpret_cast<const sockaddr*>(&forwarder->relay), sizeof forwarder->relay);
  }
}

}  // namespace

// Called from the library's frames: it allocates nothing and cannot throw.
HANDLE WINAPI EmulatedCreateFileA(LPCSTR name, DWORD access, DWORD share,
                                  LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                  HANDLE templateFile) {
  if (name != nullptr && g_mode != NetworkEmulation::Mode::kOff &&
      StartsWithNoCase(name, kDomainPrefix, kDomainPrefixLength)) {
    if (g_mode == NetworkEmulation::Mode::kRemoteOff) {
      // What Windows 11 24H2 and Server 2025 answer for a remote mailslot.
      SetLastError(kRemoteMailslotsOffError);
      return INVALID_HANDLE_VALUE;
    }
    char redirected[MAX_PATH];
    if (g_mode == NetworkEmulation::Mode::kLocal) {
      const int n = std::snprintf(redirected, sizeof redirected, "%s%s", kLocalPrefix,
                                  name + kDomainPrefixLength);
      if (n < 0 || static_cast<size_t>(n) >= sizeof redirected) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
      }
    } else {
      std::memcpy(redirected, g_relayMailslot, sizeof redirected);
    }
    return g_createFileA(redirected, access, share, security, disposition, flags, templateFile);
  }
  return g_createFileA(name, access, share, security, disposition, flags, templateFile);
}

bool NetworkEmulation::Configure(const std::string& mode, std::string* error) {
  if (mode.empty() || mode == "off") {
    mode_ = Mode::kOff;
    return true;
  }
  if (mode == "local") {
    mode_ = Mode::kLocal;
    return true;
  }
  if (mode == "remote-off") {
    mode_ = Mode::kRemoteOff;
    return true;
  }
  if (mode.compare(0, 6, "relay:") == 0) {
    char* end = nullptr;
    const long port = std::strtol(mode.c_str() + 6, &end, 10);
    if (end != mode.c_str() + 6 && *end == 0 && port > 0 && port < 65536) {
      mode_ = Mode::kRelay;
      relayPort_ = static_cast<uint16_t>(port);
      return true;
    }
  }
  *error = "unknown mode \"" + mode + "\" (off, local, remote-off or relay:PORT)";
  return false;
}

bool NetworkEmulation::Start(std::string* error) {
  g_mode = mode_;
  if (mode_ != Mode::kRelay) return true;

  // One outgoing mailslot per host process, so hosts of one machine do not
  // compete for it.
  std::snprintf(g_relayMailslot, sizeof g_relayMailslot, "\\\\.\\mailslot\\zanvor\\relay_out\\%lu",
                static_cast<unsigned long>(GetCurrentProcessId()));
  auto forwarder = std::make_unique<Forwarder>();
  forwarder->mailslot.reset(CreateMailslotA(g_relayMailslot, 0, MAILSLOT_WAIT_FOREVER, nullptr));
  if (!forwarder->mailslot) {
    *error = "CreateMailslotA failed: error " + std::to_string(GetLastError());
    return false;
  }
  WSADATA wsa;
  const int startup = WSAStartup(MAKEWORD(2, 2), &wsa);
  if (startup != 0) {
    *error = "WSAStartup failed: error " + std::to_string(startup);
    return false;
  }
  forwarder->socket.reset(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!forwarder->socket) {
    *error = "socket failed: error " + std::to_string(WSAGetLastError());
    return false;
  }
  forwarder->relay.sin_family = AF_INET;
  forwarder->relay.sin_port = htons(relayPort_);
  forwarder->relay.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Forwarder* raw = forwarder.get();
  UniqueHandle thread(CreateThread(nullptr, 0, &ForwardDatagrams, raw, 0, nullptr));
  if (!thread) {
    *error = "CreateThread failed: error " + std::to_string(GetLastError());
    return false;
  }
  forwarder.release();  // the thread owns it now
  return true;
}

bool NetworkEmulation::Attach(HMODULE module, std::string* error) {
  if (mode_ == Mode::kOff) return true;
  void* original = nullptr;
  switch (PatchImport(module, "kernel32.dll", "CreateFileA",
                      reinterpret_cast<void*>(&EmulatedCreateFileA), &original)) {
    case PatchResult::kNotImported:
      return true;  // a library that opens no files has nothing to redirect
    case PatchResult::kFailed:
      *error = "cannot patch the library's import of CreateFileA: error " +
               std::to_string(GetLastError());
      return false;
    case PatchResult::kPatched:
      break;
  }
  if (original != reinterpret_cast<void*>(&EmulatedCreateFileA)) {
    g_createFileA = reinterpret_cast<CreateFileAFunction>(original);
  }
  return true;
}

PatchResult PatchImport(HMODULE module, const char* dll, const char* function, void* replacement,
                        void** original) {
  auto* base = reinterpret_cast<uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return PatchResult::kNotImported;
  for (auto* descriptor =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       descriptor->Name != 0; ++descriptor) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + descriptor->Name), dll) != 0) continue;
    // The names come from the original (unbound) thunks; without them the
    // import cannot be found by name.
    if (descriptor->OriginalFirstThunk == 0) continue;
    const auto* names =
        reinterpret_cast<const IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
      DWORD oldProtection = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                          &oldProtection)) {
        return PatchResult::kFailed;
      }
      *original = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<uintptr_t>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, oldProtection, &oldProtection);
      return PatchResult::kPatched;
    }
  }
  return PatchResult::kNotImported;
}

}  // namespace zanvor
