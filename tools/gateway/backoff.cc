#include "gateway/backoff.h"

#include <algorithm>

namespace zanvor {

int64_t ReconnectBackoff::Failed(int64_t nowMs) {
  const int64_t delay = nextDelayMs_;
  dueMs_ = nowMs + delay;
  nextDelayMs_ = std::min(delay * 2, kLongestDelayMs);
  return delay;
}

}  // namespace zanvor
