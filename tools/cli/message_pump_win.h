// The tool's waits: every wait pumps the thread's messages, since the
// answers it waits for (ServerReply, status answers, the library's own
// deliveries) arrive as posted window messages, and a Ctrl+C (any console
// event, see console_events_win.h) ends them.
#ifndef ZANVOR_TOOLS_CLI_MESSAGE_PUMP_WIN_H_
#define ZANVOR_TOOLS_CLI_MESSAGE_PUMP_WIN_H_

#include <windows.h>

#include <functional>

#include "cli/console_events_win.h"

namespace zanvor {

// Pumps the thread's messages until done() holds, the time is up or an
// interruption came. Returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_CLI_MESSAGE_PUMP_WIN_H_
