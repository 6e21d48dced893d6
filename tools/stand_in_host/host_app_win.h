// The stand-in FoxPro host (zanvor run): a host of one link library whose
// script's output goes to standard output and its errors to standard
// error, with the built-ins of a FoxPro program (event bindings, a pulse,
// the process's resources), on the process's main thread.
#ifndef ZANVOR_TOOLS_STAND_IN_HOST_HOST_APP_WIN_H_
#define ZANVOR_TOOLS_STAND_IN_HOST_HOST_APP_WIN_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fll_host/library_host_win.h"
#include "fll_host/line_source_win.h"
#include "stand_in_host/event_binding_win.h"
#include "stand_in_host/pulse_win.h"

namespace zanvor {

std::string FunctionLine(const FunctionInfo& function);

class HostApp final : public LibraryHost {
 public:
  // REQUIRES: network outlives the app. A null window is a host without a
  // main window (a COM server): the library is told window 0, and the
  // messages of the thread are pumped all the same.
  HostApp(std::unique_ptr<MainWindow> window, NetworkAttachment& network);
  ~HostApp() override;
  HostApp(const HostApp&) = delete;
  HostApp& operator=(const HostApp&) = delete;

  // Runs lines until the source ends or QUIT, then releases the library.
  void Run(LineSource& source);
  // Runs one line as a script line (also for --library).
  void ExecuteScriptLine(const std::string& line);

  // ScriptHost.
  void ReportError(const HostError& error) override;
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

 private:
  HostError UnknownFunction(const std::string& name) override;
  WNDPROC OwnProcedure() override;

  EventBinding binding_;
  bool quit_ = false;
  std::unique_ptr<HostPulse> pulse_;  // made by the first PULSE(ms)
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_STAND_IN_HOST_HOST_APP_WIN_H_
