// zanvor.exe: the zanvor tool. Its verbs run the stand-in FoxPro host (run)
// or an instance of zanvor.fll (post, listen, doctor), or look at this
// machine's instances (status).
#include <windows.h>

#include "cli/command_line.h"
#include "cli/verb_session_win.h"
#include "cli/verbs_win.h"
#include "stand_in_host/run_script_win.h"

namespace zanvor {
namespace {

int RunRunVerb(const Invocation& invocation, ToolOutput&) { return RunStandInHost(invocation.run); }

int Main(int argc, char** argv) {
  StdHandlesOutput out;
  return RunTool(argc, argv, ToolCapabilities{true},
                 {{Verb::kRun, &RunRunVerb},
                  {Verb::kPost, &RunPostVerb},
                  {Verb::kListen, &RunListenVerb},
                  {Verb::kStatus, &RunStatusVerb},
                  {Verb::kDoctor, &RunDoctorVerb}},
                 out);
}

}  // namespace
}  // namespace zanvor

int main(int argc, char** argv) { return zanvor::Main(argc, argv); }
