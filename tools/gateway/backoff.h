// When the gateway tries the broker again after a connection failed or was
// lost: 1 s after the first failure, then twice as long after each further
// one, at most 30 s, forever; a connection that came up starts over.
#ifndef ZANVOR_TOOLS_GATEWAY_BACKOFF_H_
#define ZANVOR_TOOLS_GATEWAY_BACKOFF_H_

#include <cstdint>

namespace zanvor {

class ReconnectBackoff {
 public:
  static constexpr int64_t kFirstDelayMs = 1000;
  static constexpr int64_t kLongestDelayMs = 30000;

  // A try failed, or the connection was lost, at nowMs (a monotonic count).
  // Returns the delay until the next try.
  int64_t Failed(int64_t nowMs);
  // The connection is up: the next failure waits kFirstDelayMs again.
  void Connected() { nextDelayMs_ = kFirstDelayMs; }

  // Whether a try is due at nowMs, and how long until it is (0 when due).
  bool Due(int64_t nowMs) const { return nowMs >= dueMs_; }
  int64_t WaitMs(int64_t nowMs) const { return Due(nowMs) ? 0 : dueMs_ - nowMs; }

 private:
  int64_t nextDelayMs_ = kFirstDelayMs;
  int64_t dueMs_ = 0;  // the first try is due at once
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_GATEWAY_BACKOFF_H_
