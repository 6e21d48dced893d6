// The tool's clocks on Windows. Its waits pump the thread's messages, since
// the answers it waits for (ServerReply, status answers, the library's own
// deliveries) arrive as posted window messages: PumpUntil, with the host's
// other pumps in fll_host/main_window_win.h, which this includes.
#ifndef ZANVOR_TOOLS_CLI_MESSAGE_PUMP_WIN_H_
#define ZANVOR_TOOLS_CLI_MESSAGE_PUMP_WIN_H_

#include <windows.h>

#include <cstdint>

#include "fll_host/console_events_win.h"
#include "fll_host/main_window_win.h"

namespace zanvor {

// Milliseconds of a clock that never steps back, and since 1970 UTC.
double MonotonicMilliseconds();
int64_t UnixMilliseconds();

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_CLI_MESSAGE_PUMP_WIN_H_
