// post, listen, status and doctor on Windows: the tool as an instance of
// zanvor.fll (post, listen, doctor) and as a prober of the machine's
// instances (status, and the doctor's look at the server).
#ifndef ZANVOR_TOOLS_CLI_VERBS_WIN_H_
#define ZANVOR_TOOLS_CLI_VERBS_WIN_H_

#include "cli/command_line.h"
#include "cli/text_output.h"

namespace zanvor {

// Each returns the exit code.
int RunPostVerb(const Invocation& invocation, ToolOutput& out);
int RunListenVerb(const Invocation& invocation, ToolOutput& out);
int RunStatusVerb(const Invocation& invocation, ToolOutput& out);
int RunDoctorVerb(const Invocation& invocation, ToolOutput& out);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_CLI_VERBS_WIN_H_
