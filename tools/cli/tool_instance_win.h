// The tool as one instance of the library, as a FoxPro program is one: the
// stand-in host's main window, handle tables and link-library code load
// zanvor.fll, and the handler commands the library has the host execute run
// through the host's interpreter, whose DO calls go to the verb.
#ifndef ZANVOR_TOOLS_CLI_TOOL_INSTANCE_WIN_H_
#define ZANVOR_TOOLS_CLI_TOOL_INSTANCE_WIN_H_

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/text_output.h"
#include "stand_in_host/host_tables_win.h"
#include "stand_in_host/interpreter.h"
#include "stand_in_host/link_library_win.h"
#include "stand_in_host/main_window_win.h"
#include "stand_in_host/network_win.h"

namespace zanvor {

// zanvor.fll beside the running zanvor.exe.
std::string LibraryBesideTool();

class ToolInstance final : public ScriptHost, public HostServices {
 public:
  // A DO that a handler command ran.
  using Procedure = std::function<void(const std::string& name, const std::vector<Value>& args)>;

  // REQUIRES: network (started) and out outlive the instance.
  static std::unique_ptr<ToolInstance> Create(NetworkEmulation& network, ToolOutput& out,
                                              std::string* error);
  // Unloads the library if it is loaded.
  ~ToolInstance() override;
  ToolInstance(const ToolInstance&) = delete;
  ToolInstance& operator=(const ToolInstance&) = delete;

  // SET LIBRARY TO path: the load-time function joins the machine's
  // instances. *error is one line that says what to do.
  bool Load(const std::string& path, std::string* error);
  // The library's function with character arguments; *error is the error it
  // raised, made one line.
  bool Call(const std::string& function, const std::vector<std::string>& args, std::string* error);
  // RELEASE LIBRARY: the unload-time function leaves the machine's instances.
  void Unload();

  HWND window() const { return window_->hwnd(); }
  void OnProcedure(Procedure procedure) { procedure_ = std::move(procedure); }

  // ScriptHost: the handler commands' side. Whatever they print goes to
  // standard error, so that standard output holds the verb's own lines.
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
  void Quit() override {}
  void RunProcedure(const std::string& name, const std::vector<Value>& args) override;
  void ShowMessageBox(const std::string& text, const std::string& title, double flags) override;

  // HostServices.
  void ExecuteCommand(const std::string& line) override;
  HWND MainWindowHandle() override { return window_->hwnd(); }

 private:
  ToolInstance(std::unique_ptr<MainWindow> window, NetworkEmulation& network, ToolOutput& out);

  HostTables tables_;
  std::unique_ptr<MainWindow> window_;
  NetworkEmulation& network_;
  ToolOutput& out_;
  std::unique_ptr<LinkLibrary> library_;
  Interpreter interpreter_;
  Procedure procedure_;
  int commandDepth_ = 0;
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_CLI_TOOL_INSTANCE_WIN_H_
