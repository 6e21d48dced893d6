#include "stand_in_host/run_script_win.h"

#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "stand_in_host/host_app_win.h"
#include "stand_in_host/line_source_win.h"
#include "stand_in_host/link_library_win.h"
#include "stand_in_host/main_window_win.h"
#include "stand_in_host/network_win.h"

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

int RunStandInHost(const RunOptions& runOptions) {
  RunOptions options = runOptions;
  if (!options.table.empty()) return PrintTable(options.table);

  if (!options.networkGiven) {
    const char* fromEnvironment = std::getenv("ZANVOR_NETWORK");
    if (fromEnvironment != nullptr) options.network = fromEnvironment;
  }
  std::string error;
  NetworkEmulation network;
  if (!network.Configure(options.network, &error)) {
    WriteStderr("zanvor: network emulation: " + error + " (see zanvor run --help)");
    return kExitUsage;
  }
  if (!network.Start(&error)) {
    WriteStderr("zanvor: network emulation: " + error);
    return kExitFailure;
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
