#include "fll_host/network_attach_win.h"

#include <cstdlib>

#include "common/exit_codes.h"
#include "fll_host/link_library_win.h"

namespace zanvor {
namespace {

constexpr int kErrorBytes = 512;

// GetProcAddress's FARPROC through void*: the entry points have the types of
// network_attach_win.h, not FARPROC's.
template <typename Function>
Function EntryPoint(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

int NetworkAttachment::Start(const std::string& given, bool givenOnCommandLine,
                             std::string* errorLine) {
  std::string mode = given;
  if (!givenOnCommandLine) {
    const char* fromEnvironment = std::getenv("ZANVOR_NETWORK");
    if (fromEnvironment != nullptr) mode = fromEnvironment;
  }
  if (mode.empty() || mode == "off") return kExitSuccess;

  const std::string path = FileBesideProgram(kNetworkEmulationDll);
  const HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    *errorLine = "zanvor: network emulation: cannot load " + path + ": error " +
                 std::to_string(GetLastError()) +
                 " (the emulation is test apparatus and not part of the release)";
    return kExitFailure;
  }
  const auto start = EntryPoint<ZanvorNetworkStartFunction>(module, "ZanvorNetworkStart");
  attach_ = EntryPoint<ZanvorNetworkAttachFunction>(module, "ZanvorNetworkAttach");
  createFile_ = EntryPoint<ZanvorNetworkCreateFileFunction>(module, "ZanvorNetworkCreateFile");
  if (start == nullptr || attach_ == nullptr || createFile_ == nullptr) {
    attach_ = nullptr;
    createFile_ = nullptr;
    *errorLine = "zanvor: network emulation: " + path + " lacks its entry points";
    return kExitFailure;
  }
  char error[kErrorBytes] = "";
  switch (start(mode.c_str(), error, sizeof error)) {
    case kNetworkOk:
      return kExitSuccess;
    case kNetworkUnknownMode:
      *errorLine = std::string("zanvor: network emulation: ") + error + " (see zanvor run --help)";
      return kExitUsage;
    default:
      *errorLine = std::string("zanvor: network emulation: ") + error;
      return kExitFailure;
  }
}

bool NetworkAttachment::Attach(HMODULE module, std::string* error) {
  if (attach_ == nullptr) return true;
  char text[kErrorBytes] = "";
  if (attach_(module, text, sizeof text) == kNetworkOk) return true;
  *error = text;
  return false;
}

HANDLE NetworkAttachment::Open(const char* name, DWORD access, DWORD share, DWORD disposition,
                               DWORD flags) {
  if (createFile_ != nullptr) return createFile_(name, access, share, disposition, flags);
  return CreateFileA(name, access, share, nullptr, disposition, flags, nullptr);
}

}  // namespace zanvor
