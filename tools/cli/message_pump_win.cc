#include "cli/message_pump_win.h"

#include "base/counter_clock_win.h"
#include "stand_in_host/main_window_win.h"

namespace zanvor {

bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  for (;;) {
    // WM_QUIT is no quit signal here: nobody posts one to the tool.
    PumpMessages();
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline || Interrupted()) return false;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

double MonotonicMilliseconds() { return static_cast<double>(CounterMicroseconds()) / 1000.0; }

int64_t UnixMilliseconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  // FILETIME counts 100 ns steps from 1601-01-01.
  constexpr uint64_t kTicksFrom1601To1970 = 116444736000000000ull;
  return static_cast<int64_t>((ticks - kTicksFrom1601To1970) / 10000);
}

}  // namespace zanvor
