// zanvor run: the stand-in for the FoxPro host that loads link libraries
// and runs scripts of FoxPro-like commands against them.
#ifndef ZANVOR_TOOLS_STAND_IN_HOST_RUN_SCRIPT_WIN_H_
#define ZANVOR_TOOLS_STAND_IN_HOST_RUN_SCRIPT_WIN_H_

#include "common/exit_codes.h"
#include "stand_in_host/run_options.h"

namespace zanvor {

// Runs the host as the options say; returns the exit code (a script's own
// errors are reported and do not fail it).
int RunStandInHost(const RunOptions& options);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_STAND_IN_HOST_RUN_SCRIPT_WIN_H_
