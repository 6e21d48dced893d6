#include "fll_host/machine_probe_win.h"

#include <algorithm>

#include "contract/extension_messages.h"
#include "contract/instance_message.h"
#include "contract/machine_objects.h"
#include "contract/network.h"
#include "fll_host/main_window_win.h"
#include "registry/message_buffer_win.h"
#include "registry/ring_layout.h"

namespace zanvor {
namespace {

constexpr char kProbeClass[] = "ZanvorToolProbe";
// A status text read after the ring wrapped over it is asked for again.
constexpr int kStatusTries = 3;

}  // namespace

std::unique_ptr<MachineProbe> MachineProbe::Create(std::string* error) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = &MachineProbe::Procedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kProbeClass;
  const ATOM atom = RegisterClassA(&windowClass);
  if (atom == 0) {
    *error = "RegisterClassA failed: error " + std::to_string(GetLastError());
    return nullptr;
  }
  // Message-only: answers reach it, broadcasts (its own ServerQuery among
  // them) do not.
  UniqueWindow window(
      CreateWindowExA(0, kProbeClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr));
  if (!window) {
    *error = "CreateWindowExA failed: error " + std::to_string(GetLastError());
    UnregisterClassA(kProbeClass, instance);
    return nullptr;
  }
  std::unique_ptr<MachineProbe> probe(new MachineProbe(atom, std::move(window)));
  SetWindowLongPtrA(probe->window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(probe.get()));
  return probe;
}

MachineProbe::MachineProbe(ATOM windowClass, UniqueWindow window)
    : windowClass_(windowClass),
      window_(std::move(window)),
      instanceMessage_(RegisterWindowMessageA(kInstanceMessageName)),
      statusMessage_(RegisterWindowMessageA(kStatusMessageName)) {}

MachineProbe::~MachineProbe() {
  window_.reset();
  UnregisterClassA(reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(windowClass_)),
                   GetModuleHandleA(nullptr));
}

LRESULT CALLBACK MachineProbe::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // A frame of Windows' lies above this one: nothing may be thrown out.
  try {
    auto* probe = reinterpret_cast<MachineProbe*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (probe != nullptr && message != 0) {
      const uint32_t w = static_cast<uint32_t>(wParam);
      if (message == probe->instanceMessage_ && CodeOf(w) == kServerReply && lParam != 0) {
        probe->servers_.push_back(reinterpret_cast<HWND>(lParam));
        return 1;
      }
      if (message == probe->statusMessage_ && (w >> 16) == kStatusAnswer) {
        probe->answers_.push_back(
            {static_cast<uint16_t>(w & 0xFFFF), static_cast<uint32_t>(lParam)});
        return 1;
      }
    }
    return DefWindowProcA(window, message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

HWND MachineProbe::FindServer(DWORD milliseconds) {
  servers_.clear();
  PostMessageA(HWND_BROADCAST, instanceMessage_, MakeWParam(kServerQuery),
               reinterpret_cast<LPARAM>(window_.get()));
  if (!PumpUntil([this] { return !servers_.empty(); }, milliseconds)) return nullptr;
  return servers_.front();
}

std::vector<HWND> MachineProbe::FindServers(DWORD milliseconds) {
  servers_.clear();
  PostMessageA(HWND_BROADCAST, instanceMessage_, MakeWParam(kServerQuery),
               reinterpret_cast<LPARAM>(window_.get()));
  PumpUntil([] { return false; }, milliseconds);
  std::vector<HWND> distinct;
  for (const HWND server : servers_) {
    if (std::find(distinct.begin(), distinct.end(), server) == distinct.end()) {
      distinct.push_back(server);
    }
  }
  return distinct;
}

MachineProbe::StatusResult MachineProbe::RequestStatus(HWND instance, DWORD milliseconds,
                                                       StatusReport* report) {
  if (!section_) section_.reset(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kSectionName));
  if (!section_) return StatusResult::kUnreadable;
  for (int attempt = 0; attempt < kStatusTries; ++attempt) {
    answers_.clear();
    if (!PostMessageA(instance, statusMessage_, kStatusRequest,
                      reinterpret_cast<LPARAM>(window_.get()))) {
      return StatusResult::kNoAnswer;
    }
    if (!PumpUntil([this] { return !answers_.empty(); }, milliseconds)) {
      return StatusResult::kNoAnswer;
    }
    const Answer answer = answers_.front();
    const std::string text = ReadText(section_.get(), answer.position);
    if (TextCheck(text) == answer.check && ParseStatusReport(text, report)) {
      return StatusResult::kRead;
    }
  }
  return StatusResult::kUnreadable;
}

std::vector<StatusReport> MachineProbe::RequestEveryStatus(DWORD quietMs, DWORD milliseconds,
                                                           uint32_t* unreadable) {
  std::vector<StatusReport> reports;
  *unreadable = 0;
  if (!section_) section_.reset(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kSectionName));
  if (!section_) return reports;
  answers_.clear();
  // Windows that do not know the message ignore it, as they do ServerQuery.
  if (!PostMessageA(HWND_BROADCAST, statusMessage_, kStatusRequest,
                    reinterpret_cast<LPARAM>(window_.get()))) {
    return reports;
  }
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  size_t read = 0;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) break;
    DWORD wait = static_cast<DWORD>(deadline - now);
    if (read > 0 && wait > quietMs) wait = quietMs;
    if (!PumpUntil([&] { return answers_.size() > read; }, wait)) break;
    // Read at once: every instance stores its text in the same ring.
    for (; read < answers_.size(); ++read) {
      const std::string text = ReadText(section_.get(), answers_[read].position);
      StatusReport report;
      if (TextCheck(text) == answers_[read].check && ParseStatusReport(text, &report)) {
        reports.push_back(report);
      } else {
        ++*unreadable;
      }
    }
  }
  return reports;
}

bool AnyInstanceRuns() {
  UniqueHandle mutex(OpenMutexA(SYNCHRONIZE, FALSE, kServerMutexName));
  return mutex.valid();
}

uint32_t ProcessOfWindow(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process;
}

std::string ProgramPathOfProcess(uint32_t process) {
  UniqueHandle handle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process));
  if (!handle) return std::string();
  char path[MAX_PATH];
  DWORD size = sizeof path;
  if (!QueryFullProcessImageNameA(handle.get(), 0, path, &size)) return std::string();
  return std::string(path, size);
}

std::string ProgramOfProcess(uint32_t process) {
  const std::string full = ProgramPathOfProcess(process);
  const size_t slash = full.find_last_of("\\/");
  return slash == std::string::npos ? full : full.substr(slash + 1);
}

}  // namespace zanvor
