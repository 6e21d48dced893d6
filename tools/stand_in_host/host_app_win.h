// The stand-in FoxPro host: one main window, one pair of value-handle
// tables, at most one loaded link library, and the command interpreter, on
// the process's main thread.
#ifndef ZANVOR_TOOLS_STAND_IN_HOST_HOST_APP_WIN_H_
#define ZANVOR_TOOLS_STAND_IN_HOST_HOST_APP_WIN_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "stand_in_host/event_binding_win.h"
#include "stand_in_host/host_tables_win.h"
#include "stand_in_host/interpreter.h"
#include "stand_in_host/line_source_win.h"
#include "stand_in_host/link_library_win.h"
#include "stand_in_host/main_window_win.h"
#include "stand_in_host/network_win.h"
#include "stand_in_host/pulse_win.h"

namespace zanvor {

// Plain line output on the standard handles, written at once (no buffering),
// so a reader sees every line as soon as the command that made it ran.
void WriteStdout(const std::string& line);
void WriteStderr(const std::string& line);

std::string FunctionLine(const FunctionInfo& function);

class HostApp final : public ScriptHost, public HostServices {
 public:
  // REQUIRES: network outlives the app. A null window is a host without a
  // main window (a COM server): the library is told window 0, and the
  // messages of the thread are pumped all the same.
  HostApp(std::unique_ptr<MainWindow> window, NetworkEmulation& network);
  ~HostApp() override;
  HostApp(const HostApp&) = delete;
  HostApp& operator=(const HostApp&) = delete;

  // Runs lines until the source ends or QUIT, then releases the library.
  void Run(LineSource& source);
  // Runs one line as a script line (also for --library).
  void ExecuteScriptLine(const std::string& line);

  // ScriptHost.
  void WriteLine(const std::string& line) override;
  void WriteDebugLine(const std::string& line) override;
  void ReportError(const HostError& error) override;
  bool HasLibraryFunction(const std::string& name) override;
  bool CallLibraryFunction(const std::string& name, const std::vector<Value>& args, Value* result,
                           HostError* error) override;
  bool SetLibrary(const std::string& path, HostError* error) override;
  bool ReleaseLibrary(HostError* error) override;
  bool ListFunctions(HostError* error) override;
  void DoEvents(double milliseconds) override;
  void ReadEvents(const std::function<bool()>& cleared) override;
  void Quit() override { quit_ = true; }
  std::string ResourceText() override;
  bool DestroyMainWindow() override;
  uint32_t CodePage() override { return GetACP(); }
  bool BindEvent(double message, HostError* error) override;
  bool UnbindEvents(HostError* error) override;
  double SendToMainWindow(double message, double wParam, double lParam) override;
  bool StartPulse(double milliseconds) override;
  std::string PulseText() override;

  // HostServices.
  void ExecuteCommand(const std::string& line) override;
  HWND MainWindowHandle() override { return window_ == nullptr ? nullptr : window_->hwnd(); }

 private:
  void Unload();

  HostTables tables_;
  std::unique_ptr<MainWindow> window_;
  NetworkEmulation& network_;
  std::unique_ptr<LinkLibrary> library_;
  Interpreter interpreter_;
  EventBinding binding_;
  bool quit_ = false;
  int commandDepth_ = 0;
  std::unique_ptr<HostPulse> pulse_;  // made by the first PULSE(ms)
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_STAND_IN_HOST_HOST_APP_WIN_H_
