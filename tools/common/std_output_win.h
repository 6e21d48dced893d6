// Plain line output on the standard handles, written at once (no buffering),
// so a reader sees every line as soon as the command that made it ran. The
// line end is added.
#ifndef ZANVOR_TOOLS_COMMON_STD_OUTPUT_WIN_H_
#define ZANVOR_TOOLS_COMMON_STD_OUTPUT_WIN_H_

#include <string>

namespace zanvor {

void WriteStdout(const std::string& line);
void WriteStderr(const std::string& line);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_COMMON_STD_OUTPUT_WIN_H_
