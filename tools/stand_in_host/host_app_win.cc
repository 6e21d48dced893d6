#include "stand_in_host/host_app_win.h"

#include <psapi.h>

#include "base/counter_clock_win.h"
#include "stand_in_host/json_text.h"

namespace zanvor {
namespace {

void WriteAll(DWORD which, const std::string& line) {
  const std::string data = line + "\n";
  const HANDLE handle = GetStdHandle(which);
  size_t done = 0;
  while (done < data.size()) {
    DWORD wrote = 0;
    if (!WriteFile(handle, data.data() + done, static_cast<DWORD>(data.size() - done), &wrote,
                   nullptr) ||
        wrote == 0) {
      return;  // the reader went away; nothing useful is left to do
    }
    done += wrote;
  }
}

// The loaded module that holds `code`, or null when none does.
HMODULE ModuleHolding(const void* code) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(code), &module)) {
    return nullptr;
  }
  return module;
}

}  // namespace

void WriteStdout(const std::string& line) { WriteAll(STD_OUTPUT_HANDLE, line); }
void WriteStderr(const std::string& line) { WriteAll(STD_ERROR_HANDLE, line); }

std::string FunctionLine(const FunctionInfo& function) {
  return "FUNCTION {\"name\": " + JsonString(function.name) +
         ", \"parameters\": " + std::to_string(function.parameterCount) +
         ", \"types\": " + JsonString(function.parameterTypes) + "}";
}

HostApp::HostApp(std::unique_ptr<MainWindow> window, NetworkEmulation& network)
    : window_(std::move(window)),
      network_(network),
      interpreter_(*this, &CounterMicroseconds),
      binding_([this](const std::string& line) { WriteLine(line); }) {}

HostApp::~HostApp() { Unload(); }

void HostApp::WriteLine(const std::string& line) { WriteStdout(line); }

void HostApp::WriteDebugLine(const std::string& line) { WriteStderr(line); }

void HostApp::ReportError(const HostError& error) { WriteStderr(ErrorLine(error)); }

bool HostApp::HasLibraryFunction(const std::string& name) {
  return library_ != nullptr && library_->Find(name) != nullptr;
}

bool HostApp::CallLibraryFunction(const std::string& name, const std::vector<Value>& args,
                                  Value* result, HostError* error) {
  const FunctionInfo* function = library_ == nullptr ? nullptr : library_->Find(name);
  if (function == nullptr) {
    *error = HostError::Text("Unknown function: " + name);
    return false;
  }
  return library_->Call(*function, args, result, error);
}

bool HostApp::SetLibrary(const std::string& path, HostError* error) {
  if (path.empty()) return ReleaseLibrary(error);
  if (library_ != nullptr && library_->busy()) {
    *error = HostError::Text("Cannot change the library while one of its functions runs.");
    return false;
  }
  Unload();
  library_ = LinkLibrary::Open(path, tables_, *this, error);
  if (library_ == nullptr) return false;
  std::string networkError;
  if (!network_.Attach(library_->module(), &networkError)) {
    library_.reset();
    *error = HostError::Text("Network emulation: " + networkError);
    return false;
  }
  library_->RunMarked(kParameterCountRunAtLoad);
  return true;
}

bool HostApp::ReleaseLibrary(HostError* error) {
  if (library_ != nullptr && library_->busy()) {
    *error = HostError::Text("Cannot release the library while one of its functions runs.");
    return false;
  }
  Unload();
  return true;
}

void HostApp::Unload() {
  if (library_ == nullptr) return;
  library_->RunMarked(kParameterCountRunAtUnload);
  // Once the module is gone, a window procedure of the library's left on
  // the main window would run freed code at the next message. A library may
  // stay in the chain under an event binding of the program's (which will
  // put it back when it unbinds) if it keeps its module loaded for it, so
  // the fault is a procedure of the library's on top once the module is
  // gone. A destroyed window runs nothing any more.
  const HWND hwnd = MainWindowHandle();  // null without a window: IsWindow says no
  const void* top = IsWindow(hwnd)
                        ? reinterpret_cast<const void*>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC))
                        : nullptr;
  const bool libraryOnTop = top != nullptr && ModuleHolding(top) == library_->module();
  library_.reset();
  if (libraryOnTop && ModuleHolding(top) == nullptr) {
    ReportError(HostError::Text("The library left its window procedure on the main window."));
    const WNDPROC own = binding_.bound() ? EventBinding::Procedure() : MainWindow::HostProcedure();
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(own));
  }
}

bool HostApp::ListFunctions(HostError* error) {
  if (library_ == nullptr) {
    *error = HostError::Text("No library is loaded.");
    return false;
  }
  for (const FunctionInfo& function : library_->functions()) WriteLine(FunctionLine(function));
  return true;
}

void HostApp::DoEvents(double milliseconds) {
  bool more;
  if (milliseconds < 0) {
    more = PumpMessages();
  } else {
    const double capped = milliseconds > 3600e3 ? 3600e3 : milliseconds;
    more = PumpMessagesFor(static_cast<DWORD>(capped));
  }
  if (!more) quit_ = true;
}

// CLEAR EVENTS comes from a command that a message handled here set off.
void HostApp::ReadEvents(const std::function<bool()>& cleared) {
  for (;;) {
    if (!PumpMessages()) {
      quit_ = true;
      return;
    }
    if (cleared()) return;
    MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

// PagefileUsage is the process's commit charge, its private bytes (the
// PrivateUsage field of the extended record says the same on Windows; Wine
// fills only the basic record).
std::string HostApp::ResourceText() {
  const HANDLE self = GetCurrentProcess();
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(self, &memory, sizeof memory);
  DWORD handles = 0;
  GetProcessHandleCount(self, &handles);
  return "pid=" + std::to_string(GetCurrentProcessId()) +
         " working_set=" + std::to_string(memory.WorkingSetSize) +
         " private_bytes=" + std::to_string(memory.PagefileUsage) +
         " handles=" + std::to_string(handles) +
         " gdi=" + std::to_string(GetGuiResources(self, GR_GDIOBJECTS)) +
         " user=" + std::to_string(GetGuiResources(self, GR_USEROBJECTS));
}

bool HostApp::DestroyMainWindow() {
  return window_ != nullptr && DestroyWindow(window_->hwnd()) != FALSE;
}

bool HostApp::BindEvent(double message, HostError* error) {
  if (!(message >= 0 && message <= 0xFFFF)) {
    *error = HostError::Text("BINDEVENT message out of range.");
    return false;
  }
  std::string text;
  if (binding_.Bind(MainWindowHandle(), static_cast<UINT>(message), &text)) return true;
  *error = HostError::Text(text);
  return false;
}

bool HostApp::UnbindEvents(HostError* error) {
  std::string text;
  if (binding_.Unbind(&text)) return true;
  *error = HostError::Text(text);
  return false;
}

double HostApp::SendToMainWindow(double message, double wParam, double lParam) {
  return static_cast<double>(SendMessageA(MainWindowHandle(), static_cast<UINT>(message),
                                          static_cast<WPARAM>(wParam),
                                          static_cast<LPARAM>(lParam)));
}

bool HostApp::StartPulse(double milliseconds) {
  if (pulse_ == nullptr) pulse_ = HostPulse::Create();
  return pulse_ != nullptr && pulse_->Start(static_cast<UINT>(milliseconds));
}

std::string HostApp::PulseText() { return pulse_ == nullptr ? std::string() : pulse_->Text(); }

void HostApp::ExecuteCommand(const std::string& line) {
  if (commandDepth_ >= kMaxCommandDepth) {
    ReportError(HostError::Text(kCommandsTooDeepText));
    return;
  }
  ++commandDepth_;
  interpreter_.ExecuteLine(line);
  --commandDepth_;
}

void HostApp::ExecuteScriptLine(const std::string& line) { interpreter_.ExecuteLine(line); }

void HostApp::Run(LineSource& source) {
  while (!quit_) {
    std::string line;
    const LineSource::Status status = source.TryNext(&line);
    if (status == LineSource::Status::kEnd) break;
    if (status == LineSource::Status::kLine) {
      ExecuteScriptLine(line);
      if (!PumpMessages()) quit_ = true;
      continue;
    }
    // Waiting for input: keep the window's messages and the library's
    // thread timers running meanwhile.
    if (!PumpUntilSignalled(source.ready_event())) quit_ = true;
  }
  Unload();
}

}  // namespace zanvor
