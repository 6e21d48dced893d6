#include "cli/tool_instance_win.h"

#include "base/counter_clock_win.h"
#include "cli/message_pump_win.h"
#include "stand_in_host/json_text.h"

namespace zanvor {
namespace {

constexpr char kLibraryFileName[] = "zanvor.fll";

}  // namespace

std::string LibraryBesideTool() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return kLibraryFileName;
  std::string directory(path, n);
  const size_t slash = directory.find_last_of("\\/");
  directory.erase(slash == std::string::npos ? 0 : slash + 1);
  return directory + kLibraryFileName;
}

std::unique_ptr<ToolInstance> ToolInstance::Create(NetworkEmulation& network, ToolOutput& out,
                                                   std::string* error) {
  std::unique_ptr<MainWindow> window = MainWindow::Create(error);
  if (window == nullptr) return nullptr;
  return std::unique_ptr<ToolInstance>(new ToolInstance(std::move(window), network, out));
}

ToolInstance::ToolInstance(std::unique_ptr<MainWindow> window, NetworkEmulation& network,
                           ToolOutput& out)
    : window_(std::move(window)),
      network_(network),
      out_(out),
      interpreter_(*this, &CounterMicroseconds) {}

ToolInstance::~ToolInstance() { Unload(); }

bool ToolInstance::Load(const std::string& path, std::string* error) {
  HostError hostError;
  if (!SetLibrary(path, &hostError)) {
    *error = SingleLine(hostError.text) +
             " (put zanvor.fll beside zanvor.exe, or give its path with --library FILE)";
    return false;
  }
  return true;
}

bool ToolInstance::Call(const std::string& function, const std::vector<std::string>& args,
                        std::string* error) {
  std::vector<Value> values;
  for (const std::string& arg : args) values.push_back(Value::String(arg));
  Value result;
  HostError hostError;
  if (!CallLibraryFunction(function, values, &result, &hostError)) {
    *error = SingleLine(hostError.number == 0 ? hostError.text : HostErrorText(hostError.number));
    return false;
  }
  return true;
}

void ToolInstance::Unload() {
  if (library_ == nullptr) return;
  library_->RunMarked(kParameterCountRunAtUnload);
  const HWND hwnd = window_->hwnd();
  if (reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC)) !=
      MainWindow::HostProcedure()) {
    ReportError(HostError::Text("The library left its window procedure on the main window."));
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(MainWindow::HostProcedure()));
  }
  library_.reset();
  // A console that is being closed waits for this before the process ends.
  EndLibraryLoaded();
}

void ToolInstance::WriteLine(const std::string& line) { out_.Err(line); }

void ToolInstance::WriteDebugLine(const std::string& line) { out_.Err(line); }

void ToolInstance::ReportError(const HostError& error) {
  out_.Err("zanvor: " + SingleLine(error.number == 0 ? error.text : HostErrorText(error.number)));
}

bool ToolInstance::HasLibraryFunction(const std::string& name) {
  return library_ != nullptr && library_->Find(name) != nullptr;
}

bool ToolInstance::CallLibraryFunction(const std::string& name, const std::vector<Value>& args,
                                       Value* result, HostError* error) {
  const FunctionInfo* function = library_ == nullptr ? nullptr : library_->Find(name);
  if (function == nullptr) {
    *error = HostError::Text("The library has no function " + name + ".");
    return false;
  }
  return library_->Call(*function, args, result, error);
}

bool ToolInstance::SetLibrary(const std::string& path, HostError* error) {
  if (library_ != nullptr) {
    *error = HostError::Text("A library is loaded already.");
    return false;
  }
  if (!BeginLibraryLoaded()) {
    *error = HostError::Text("Interrupted before the library was loaded.");
    return false;
  }
  library_ = LinkLibrary::Open(path, tables_, *this, error);
  if (library_ == nullptr) {
    EndLibraryLoaded();
    return false;
  }
  std::string networkError;
  if (!network_.Attach(library_->module(), &networkError)) {
    library_.reset();
    EndLibraryLoaded();
    *error = HostError::Text("Network emulation: " + networkError);
    return false;
  }
  library_->RunMarked(kParameterCountRunAtLoad);
  return true;
}

bool ToolInstance::ReleaseLibrary(HostError* error) {
  *error = HostError::Text("Handler commands cannot release the library here.");
  return false;
}

bool ToolInstance::ListFunctions(HostError* error) {
  *error = HostError::Text("LIST FUNCTIONS is for zanvor run.");
  return false;
}

void ToolInstance::DoEvents(double milliseconds) {
  if (milliseconds < 0) {
    PumpMessages();
  } else {
    PumpMessagesFor(static_cast<DWORD>(milliseconds > 3600e3 ? 3600e3 : milliseconds));
  }
}

void ToolInstance::RunProcedure(const std::string& name, const std::vector<Value>& args) {
  if (procedure_) {
    procedure_(name, args);
  } else {
    out_.Err("zanvor: a handler ran " + DoLine(name, args));
  }
}

void ToolInstance::ShowMessageBox(const std::string& text, const std::string& title, double) {
  out_.Err("zanvor: " + (title.empty() ? std::string() : title + ": ") + SingleLine(text));
}

void ToolInstance::ExecuteCommand(const std::string& line) {
  if (commandDepth_ >= kMaxCommandDepth) {
    ReportError(HostError::Text(kCommandsTooDeepText));
    return;
  }
  ++commandDepth_;
  interpreter_.ExecuteLine(line);
  --commandDepth_;
}

}  // namespace zanvor
