#include "stand_in_host/run_script_win.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "common/std_output_win.h"
#include "fll_host/line_source_win.h"
#include "fll_host/link_library_win.h"
#include "fll_host/main_window_win.h"
#include "fll_host/network_attach_win.h"
#include "stand_in_host/host_app_win.h"

namespace zanvor {
namespace {

int PrintTable(const std::string& path) {
  std::vector<FunctionInfo> functions;
  HostError error;
  if (!LinkLibrary::ReadTable(path, &functions, &error)) {
    WriteStderr(error.text);
    return kExitFailure;
  }
  for (const FunctionInfo& function : functions) WriteStdout(FunctionLine(function));
  return kExitSuccess;
}

}  // namespace

int RunStandInHost(const RunOptions& options) {
  if (!options.table.empty()) return PrintTable(options.table);

  NetworkAttachment network;
  std::string error;
  const int started = network.Start(options.network, options.networkGiven, &error);
  if (started != kExitSuccess) {
    WriteStderr(error);
    return started;
  }

  std::unique_ptr<LineSource> source = options.script.empty() || options.script == "-"
                                           ? OpenStandardInput(&error)
                                           : OpenScriptFile(options.script, &error);
  if (source == nullptr) {
    WriteStderr("zanvor: " + error);
    return kExitFailure;
  }
  std::unique_ptr<MainWindow> window;
  if (!options.noWindow) window = MainWindow::Create(&error);
  if (window == nullptr && !options.noWindow) {
    WriteStderr("zanvor: " + error);
    return kExitFailure;
  }
  HostApp app(std::move(window), network);
  if (!options.library.empty()) {
    HostError loadError;
    if (!app.SetLibrary(options.library, &loadError)) app.ReportError(loadError);
  }
  app.Run(*source);
  return kExitSuccess;
}

}  // namespace zanvor
