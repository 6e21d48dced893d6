#include "stand_in_host/host_app_win.h"

#include <psapi.h>

#include "common/std_output_win.h"
#include "fll_host/output_lines.h"

namespace zanvor {

std::string FunctionLine(const FunctionInfo& function) {
  return "FUNCTION {\"name\": " + JsonString(function.name) +
         ", \"parameters\": " + std::to_string(function.parameterCount) +
         ", \"types\": " + JsonString(function.parameterTypes) + "}";
}

HostApp::HostApp(std::unique_ptr<MainWindow> window, NetworkAttachment& network)
    : LibraryHost(std::move(window), network, UnloadCheck::kProcedureOfUnloadedModule, &WriteStdout,
                  &WriteStderr),
      binding_([this](const std::string& line) { WriteLine(line); }) {}

HostApp::~HostApp() { UnloadLibrary(); }

void HostApp::ReportError(const HostError& error) { WriteStderr(ErrorLine(error)); }

HostError HostApp::UnknownFunction(const std::string& name) {
  return HostError::Text("Unknown function: " + name);
}

WNDPROC HostApp::OwnProcedure() {
  return binding_.bound() ? EventBinding::Procedure() : MainWindow::HostProcedure();
}

bool HostApp::SetLibrary(const std::string& path, HostError* error) {
  if (path.empty()) return ReleaseLibrary(error);
  if (library() != nullptr && library()->busy()) {
    *error = HostError::Text("Cannot change the library while one of its functions runs.");
    return false;
  }
  UnloadLibrary();
  return OpenLibrary(path, error);
}

bool HostApp::ReleaseLibrary(HostError* error) {
  if (library() != nullptr && library()->busy()) {
    *error = HostError::Text("Cannot release the library while one of its functions runs.");
    return false;
  }
  UnloadLibrary();
  return true;
}

bool HostApp::ListFunctions(HostError* error) {
  if (library() == nullptr) {
    *error = HostError::Text("No library is loaded.");
    return false;
  }
  for (const FunctionInfo& function : library()->functions()) WriteLine(FunctionLine(function));
  return true;
}

void HostApp::DoEvents(double milliseconds) {
  if (!PumpEvents(milliseconds)) quit_ = true;
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
  return mainWindow() != nullptr && DestroyWindow(mainWindow()->hwnd()) != FALSE;
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

void HostApp::ExecuteScriptLine(const std::string& line) { interpreter().ExecuteLine(line); }

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
  UnloadLibrary();
}

}  // namespace zanvor
