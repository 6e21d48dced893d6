// What every host of one link library shares, whoever reads its output:
// the value-handle tables, the main window (or none), at most one loaded
// library attached to the network emulation when one runs, the interpreter
// that runs the commands the library has the host execute, and the guard
// against commands that call back into the library without end. `zanvor
// run` (stand_in_host/host_app_win.h) and the tool's own instance
// (cli/tool_instance_win.h) specialise it by where their lines go and what
// their scripts may do.
#ifndef ZANVOR_TOOLS_FLL_HOST_LIBRARY_HOST_WIN_H_
#define ZANVOR_TOOLS_FLL_HOST_LIBRARY_HOST_WIN_H_

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fll_host/host_tables_win.h"
#include "fll_host/interpreter.h"
#include "fll_host/link_library_win.h"
#include "fll_host/main_window_win.h"
#include "fll_host/network_attach_win.h"

namespace zanvor {

class LibraryHost : public ScriptHost, public HostServices {
 public:
  // How the unload looks for a window procedure the library left on the
  // main window, which would run freed code at the next message once the
  // module is gone.
  enum class UnloadCheck {
    // Before the module goes: anything but OwnProcedure() on top is the
    // library's (a host whose scripts cannot subclass the window).
    kAnyOtherProcedure,
    // After the module went: a procedure of the library's was on top and no
    // module holds it any more. A library may stay in the chain under an
    // event binding of the script's (which will put it back when it
    // unbinds) if it keeps its module loaded for it.
    kProcedureOfUnloadedModule,
  };

  // Where the script's lines go: what `?` and the like print (output), and
  // what DEBUGOUT prints (diagnostics).
  using LineSink = std::function<void(const std::string& line)>;

  // REQUIRES: network (started) outlives the host. A null window is a host
  // without a main window (a COM server): the library is told window 0.
  LibraryHost(std::unique_ptr<MainWindow> window, NetworkAttachment& network, UnloadCheck check,
              LineSink output, LineSink diagnostics);
  // Derived hosts call UnloadLibrary in their destructors, while their own
  // ReportError and OnLibraryUnloaded still run.
  ~LibraryHost() override;
  LibraryHost(const LibraryHost&) = delete;
  LibraryHost& operator=(const LibraryHost&) = delete;

  // Both ScriptHost's and HostServices': each host reports where its errors
  // go.
  void ReportError(const HostError& error) override = 0;

  // ScriptHost: the parts every host answers alike.
  void WriteLine(const std::string& line) override { output_(line); }
  void WriteDebugLine(const std::string& line) override { diagnostics_(line); }
  bool HasLibraryFunction(const std::string& name) override;
  bool CallLibraryFunction(const std::string& name, const std::vector<Value>& args, Value* result,
                           HostError* error) override;

  // HostServices. Commands nested deeper than the guard allows are cut with
  // an error instead of overflowing the stack.
  void ExecuteCommand(const std::string& line) override;
  HWND MainWindowHandle() override { return window_ == nullptr ? nullptr : window_->hwnd(); }

 protected:
  // Loads `path`, attaches it to the network emulation and runs its
  // load-time functions. REQUIRES: no library is loaded.
  bool OpenLibrary(const std::string& path, HostError* error);
  // Runs the unload-time functions, frees the library and puts the host's
  // procedure back if the library left its own on the main window. Does
  // nothing without a library.
  void UnloadLibrary();

  // The error of a call to a function the library does not have.
  virtual HostError UnknownFunction(const std::string& name) = 0;
  // The procedure the main window's chain should end in when no library's
  // procedure is on top.
  virtual WNDPROC OwnProcedure() { return MainWindow::HostProcedure(); }
  // After every unload, once the module is gone.
  virtual void OnLibraryUnloaded() {}

  // Pumps the thread's messages: all that wait (milliseconds < 0) or for
  // that long, capped at an hour. False once WM_QUIT was taken.
  static bool PumpEvents(double milliseconds);

  LinkLibrary* library() { return library_.get(); }
  MainWindow* mainWindow() { return window_.get(); }
  Interpreter& interpreter() { return interpreter_; }

 private:
  HostTables tables_;
  std::unique_ptr<MainWindow> window_;
  NetworkAttachment& network_;
  const UnloadCheck unloadCheck_;
  const LineSink output_;
  const LineSink diagnostics_;
  std::unique_ptr<LinkLibrary> library_;
  Interpreter interpreter_;
  int commandDepth_ = 0;
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_FLL_HOST_LIBRARY_HOST_WIN_H_
