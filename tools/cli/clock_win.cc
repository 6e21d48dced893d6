#include <windows.h>

#include "base/counter_clock_win.h"
#include "cli/clock.h"

namespace zanvor {

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
