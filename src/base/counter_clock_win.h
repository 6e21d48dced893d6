// The performance counter in microseconds, for timing across processes of
// one machine (the UDP drain's slices, the host's QPC() and the benchmark
// programs).
#ifndef ZANVOR_BASE_COUNTER_CLOCK_WIN_H_
#define ZANVOR_BASE_COUNTER_CLOCK_WIN_H_

#include <windows.h>

#include <cstdint>

namespace zanvor {

// Split into whole seconds and the remainder so that the multiplication
// cannot overflow after a long uptime.
inline uint64_t CounterMicroseconds() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  const uint64_t f = static_cast<uint64_t>(frequency.QuadPart);
  const uint64_t c = static_cast<uint64_t>(counter.QuadPart);
  return c / f * 1000000 + c % f * 1000000 / f;
}

}  // namespace zanvor

#endif  // ZANVOR_BASE_COUNTER_CLOCK_WIN_H_
