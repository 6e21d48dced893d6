// The tool as one instance of the library, as a FoxPro program is one: a
// host of zanvor.fll (fll_host/library_host_win.h) whose handler commands'
// lines go to standard error, so that standard output holds the verb's own
// lines, and whose DO calls go to the verb.
#ifndef ZANVOR_TOOLS_CLI_TOOL_INSTANCE_WIN_H_
#define ZANVOR_TOOLS_CLI_TOOL_INSTANCE_WIN_H_

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/text_output.h"
#include "fll_host/library_host_win.h"

namespace zanvor {

// zanvor.fll beside the running zanvor.exe.
std::string LibraryBesideTool();

class ToolInstance final : public LibraryHost {
 public:
  // A DO that a handler command ran: the procedure's name and its
  // arguments.
  using Procedure = std::function<void(const std::string& name, const std::vector<Value>& args)>;

  // REQUIRES: network (started) and out outlive the instance.
  static std::unique_ptr<ToolInstance> Create(NetworkAttachment& network, ToolOutput& out,
                                              std::string* error);
  // Unloads the library if it is loaded.
  ~ToolInstance() override;

  // SET LIBRARY TO path: the load-time function joins the machine's
  // instances. *error is one line that says what to do.
  bool Load(const std::string& path, std::string* error);
  // The library's function with character arguments; *error is the error it
  // raised, made one line.
  bool Call(const std::string& function, const std::vector<std::string>& args, std::string* error);
  // RELEASE LIBRARY: the unload-time function leaves the machine's instances.
  void Unload() { UnloadLibrary(); }

  HWND window() { return MainWindowHandle(); }
  void OnProcedure(Procedure procedure) { procedure_ = std::move(procedure); }

  // ScriptHost: the handler commands' side.
  void ReportError(const HostError& error) override;
  bool SetLibrary(const std::string& path, HostError* error) override;
  bool ReleaseLibrary(HostError* error) override;
  bool ListFunctions(HostError* error) override;
  void DoEvents(double milliseconds) override { PumpEvents(milliseconds); }
  void Quit() override {}
  void RunProcedure(const std::string& name, const std::vector<Value>& args) override;
  void ShowMessageBox(const std::string& text, const std::string& title, double flags) override;

 private:
  ToolInstance(std::unique_ptr<MainWindow> window, NetworkAttachment& network, ToolOutput& out);
  HostError UnknownFunction(const std::string& name) override;
  // A console that is being closed waits for the unload before the process
  // ends.
  void OnLibraryUnloaded() override;

  ToolOutput& out_;
  Procedure procedure_;
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_CLI_TOOL_INSTANCE_WIN_H_
