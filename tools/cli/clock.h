// The tool's clocks, one signature on every build (clock_win.cc,
// clock_posix.cc).
#ifndef ZANVOR_TOOLS_CLI_CLOCK_H_
#define ZANVOR_TOOLS_CLI_CLOCK_H_

#include <cstdint>

namespace zanvor {

// Milliseconds of a clock that never steps back, with their fraction where
// the clock has one (the doctor times round trips below a millisecond).
double MonotonicMilliseconds();
// Milliseconds since 1970-01-01 UTC.
int64_t UnixMilliseconds();

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_CLI_CLOCK_H_
