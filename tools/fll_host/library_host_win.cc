#include "fll_host/library_host_win.h"

#include "base/counter_clock_win.h"

namespace zanvor {
namespace {

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

LibraryHost::LibraryHost(std::unique_ptr<MainWindow> window, NetworkAttachment& network,
                         UnloadCheck check, LineSink output, LineSink diagnostics)
    : window_(std::move(window)),
      network_(network),
      unloadCheck_(check),
      output_(std::move(output)),
      diagnostics_(std::move(diagnostics)),
      interpreter_(*this, &CounterMicroseconds) {}

LibraryHost::~LibraryHost() = default;

bool LibraryHost::HasLibraryFunction(const std::string& name) {
  return library_ != nullptr && library_->Find(name) != nullptr;
}

bool LibraryHost::CallLibraryFunction(const std::string& name, const std::vector<Value>& args,
                                      Value* result, HostError* error) {
  const FunctionInfo* function = library_ == nullptr ? nullptr : library_->Find(name);
  if (function == nullptr) {
    *error = UnknownFunction(name);
    return false;
  }
  return library_->Call(*function, args, result, error);
}

void LibraryHost::ExecuteCommand(const std::string& line) {
  if (commandDepth_ >= kMaxCommandDepth) {
    ReportError(HostError::Text(kCommandsTooDeepText));
    return;
  }
  ++commandDepth_;
  interpreter_.ExecuteLine(line);
  --commandDepth_;
}

bool LibraryHost::OpenLibrary(const std::string& path, HostError* error) {
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

void LibraryHost::UnloadLibrary() {
  if (library_ == nullptr) return;
  library_->RunMarked(kParameterCountRunAtUnload);
  const HWND hwnd = MainWindowHandle();  // null without a window: IsWindow says no
  // A destroyed window runs nothing any more.
  const void* top = IsWindow(hwnd)
                        ? reinterpret_cast<const void*>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC))
                        : nullptr;
  const auto putOwnProcedureBack = [&] {
    ReportError(HostError::Text("The library left its window procedure on the main window."));
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OwnProcedure()));
  };
  if (unloadCheck_ == UnloadCheck::kAnyOtherProcedure) {
    if (top != nullptr && top != reinterpret_cast<const void*>(OwnProcedure())) {
      putOwnProcedureBack();
    }
    library_.reset();
  } else {
    const bool libraryOnTop = top != nullptr && ModuleHolding(top) == library_->module();
    library_.reset();
    if (libraryOnTop && ModuleHolding(top) == nullptr) putOwnProcedureBack();
  }
  OnLibraryUnloaded();
}

bool LibraryHost::PumpEvents(double milliseconds) {
  if (milliseconds < 0) return PumpMessages();
  const double capped = milliseconds > 3600e3 ? 3600e3 : milliseconds;
  return PumpMessagesFor(static_cast<DWORD>(capped));
}

}  // namespace zanvor
