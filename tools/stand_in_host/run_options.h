// The stand-in FoxPro host's options (zanvor run), as the tool's command line
// fills them.
#ifndef ZANVOR_TOOLS_STAND_IN_HOST_RUN_OPTIONS_H_
#define ZANVOR_TOOLS_STAND_IN_HOST_RUN_OPTIONS_H_

#include <string>

namespace zanvor {

// The stand-in FoxPro host's options (zanvor run).
struct RunOptions {
  std::string table;    // --table FILE: print its function table and exit
  std::string library;  // --library FILE: load it first
  std::string network;  // --network MODE
  bool networkGiven = false;
  std::string script;  // "" or "-": standard input
  // --no-window: the host has no main window, as a COM server or a service
  // has none: asked for it, the host answers 0.
  bool noWindow = false;
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_STAND_IN_HOST_RUN_OPTIONS_H_
