// zanvor.exe: a stand-in for the FoxPro host that loads link libraries and
// runs scripts of FoxPro-like commands against them.
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

constexpr char kUsage[] =
    "Usage: zanvor.exe [options] [script.prg | -]\n"
    "\n"
    "Runs a script of FoxPro-like commands, from a file or, with \"-\" or no\n"
    "file, from standard input line by line as the lines arrive. Window\n"
    "messages and timers keep running while the host waits for input.\n"
    "\n"
    "Options:\n"
    "  --library FILE     load the link library FILE first (SET LIBRARY TO FILE)\n"
    "  --table FILE       print the function table of link library FILE and exit\n"
    "  --network MODE     emulate a network for domain-wide mailslots:\n"
    "                     off (default), local, remote-off or relay:PORT (also taken from\n"
    "                     the environment variable ZANVOR_NETWORK)\n"
    "  --help             show this text\n"
    "\n"
    "Commands:\n"
    "  SET LIBRARY TO file     load a link library (no file: release it)\n"
    "  RELEASE LIBRARY         run its unload function and free it\n"
    "  LIST FUNCTIONS          print the library's function table\n"
    "  ? expr[, expr]          print values\n"
    "  DEBUGOUT expr[, expr]   print values on standard error\n"
    "  =expr                   evaluate, discard the value\n"
    "  DO name [WITH args]     record a procedure call\n"
    "  DOEVENTS [ms]           pump window messages once, or for ms\n"
    "  QUIT                    stop\n"
    "Expressions: \"..\" '..' [..] literals, numbers, .T. .F., + -, CHR(n),\n"
    "LEN(s), REPLICATE(s, n), MESSAGEBOX(text, title, flags), QPC() (the\n"
    "performance counter in microseconds, as a string of digits),\n"
    "RESOURCES() (\"pid=N working_set=N private_bytes=N handles=N gdi=N\n"
    "user=N\" of this process), DESTROYWINDOW() (destroys the main window;\n"
    "the process and the library stay), and the library's functions.\n"
    "\n"
    "Output: ? prints plain text; DO prints DO name([args as JSON]);\n"
    "MESSAGEBOX prints MESSAGEBOX {json}; errors go to standard error as\n"
    "Error: \"text\" or Error N: \"text\".";

struct Options {
  bool help = false;
  std::string table;
  std::string library;
  std::string network;
  bool networkGiven = false;
  std::string script;  // "-" or empty: standard input
};

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return false;
      }
      *out = args[++i];
      return true;
    };
    if (arg == "--help" || arg == "-h" || arg == "/?") {
      options->help = true;
    } else if (arg == "--table") {
      if (!value(&options->table)) return false;
    } else if (arg == "--library") {
      if (!value(&options->library)) return false;
    } else if (arg == "--network") {
      if (!value(&options->network)) return false;
      options->networkGiven = true;
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      *error = "unknown option " + arg;
      return false;
    } else if (!options->script.empty()) {
      *error = "only one script may be given";
      return false;
    } else {
      options->script = arg;
    }
  }
  return true;
}

int PrintTable(const std::string& path) {
  std::vector<FunctionInfo> functions;
  HostError error;
  if (!LinkLibrary::ReadTable(path, &functions, &error)) {
    WriteStderr(error.text);
    return 1;
  }
  for (const FunctionInfo& function : functions) WriteStdout(FunctionLine(function));
  return 0;
}

int Main(const std::vector<std::string>& args) {
  Options options;
  std::string error;
  if (!ParseOptions(args, &options, &error)) {
    WriteStderr("zanvor: " + error + " (see --help)");
    return 2;
  }
  if (options.help) {
    WriteStdout(kUsage);
    return 0;
  }
  if (!options.table.empty()) return PrintTable(options.table);

  if (!options.networkGiven) {
    const char* fromEnvironment = std::getenv("ZANVOR_NETWORK");
    if (fromEnvironment != nullptr) options.network = fromEnvironment;
  }
  NetworkEmulation network;
  if (!network.Configure(options.network, &error) || !network.Start(&error)) {
    WriteStderr("zanvor: network emulation: " + error);
    return 2;
  }

  std::unique_ptr<LineSource> source = options.script.empty() || options.script == "-"
                                           ? OpenStandardInput(&error)
                                           : OpenScriptFile(options.script, &error);
  if (source == nullptr) {
    WriteStderr("zanvor: " + error);
    return 2;
  }
  std::unique_ptr<MainWindow> window = MainWindow::Create(&error);
  if (window == nullptr) {
    WriteStderr("zanvor: " + error);
    return 2;
  }
  HostApp app(std::move(window), network);
  if (!options.library.empty()) {
    HostError loadError;
    if (!app.SetLibrary(options.library, &loadError)) app.ReportError(loadError);
  }
  app.Run(*source);
  return 0;
}

}  // namespace
}  // namespace zanvor

int main(int argc, char** argv) {
  // Nothing may escape main into the C runtime's frames either.
  try {
    std::vector<std::string> args(argv + 1, argv + argc);
    return zanvor::Main(args);
  } catch (...) {
    zanvor::WriteStderr("zanvor: out of memory");
    return 3;
  }
}
