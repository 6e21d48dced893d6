// zanvor.exe: the zanvor tool. Its verbs run the stand-in FoxPro host (run)
// or an instance of zanvor.fll (post, listen, doctor), or look at this
// machine's instances (status).
#include <windows.h>

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/verb_session_win.h"
#include "cli/verbs_win.h"
#include "stand_in_host/run_script_win.h"

namespace zanvor {
namespace {

int Main(const std::vector<std::string>& args) {
  StdHandlesOutput out;
  const ToolCapabilities capabilities{true};
  Invocation invocation;
  int exitCode = kExitSuccess;
  if (!ParseOrAnswer(args, capabilities, out, &invocation, &exitCode)) return exitCode;
  switch (invocation.verb) {
    case Verb::kRun:
      return RunStandInHost(invocation.run);
    case Verb::kPost:
      return RunPostVerb(invocation.options, out);
    case Verb::kListen:
      return RunListenVerb(invocation.options, out);
    case Verb::kStatus:
      return RunStatusVerb(invocation.options, out);
    case Verb::kDoctor:
      return RunDoctorVerb(invocation.options, out);
    case Verb::kNone:
      break;
  }
  out.Err("zanvor: a command is needed (see zanvor --help)");
  return kExitUsage;
}

}  // namespace
}  // namespace zanvor

int main(int argc, char** argv) {
  // Nothing may escape main into the C runtime's frames either.
  try {
    return zanvor::Main(std::vector<std::string>(argv + 1, argv + argc));
  } catch (...) {
    zanvor::StdHandlesOutput().Err("zanvor: out of memory");
    return zanvor::kExitFailure;
  }
}
