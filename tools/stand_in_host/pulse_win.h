// The host's own work beside the library's, as a FoxPro program has it: a
// form's timer and a message the program posts to itself. A library that
// floods the host's message queue starves both; PULSE() shows how much.
#ifndef ZANVOR_TOOLS_STAND_IN_HOST_PULSE_WIN_H_
#define ZANVOR_TOOLS_STAND_IN_HOST_PULSE_WIN_H_

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "base/unique_handle_win.h"

namespace zanvor {

// A hidden message-only window of the host's thread with a timer of its
// own. Each tick is counted and posts one message to the window, stamped
// when it was posted; handling it measures its wait in the queue.
class HostPulse {
 public:
  // Null when the window cannot be made.
  static std::unique_ptr<HostPulse> Create();
  HostPulse(const HostPulse&) = delete;
  HostPulse& operator=(const HostPulse&) = delete;

  // Starts ticking every `milliseconds` (again from zero counts); 0 stops.
  bool Start(UINT milliseconds);
  // "interval_ms=I ticks=N posted=P handled=H longest_us=L": the ticks
  // since Start, the messages posted and handled, and the longest wait of a
  // handled one from its post.
  std::string Text() const;

 private:
  explicit HostPulse(UniqueWindow window) : window_(std::move(window)) {}
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void OnTick();
  void OnPosted();

  UniqueWindow window_;
  UINT interval_ = 0;
  uint64_t ticks_ = 0;
  uint64_t posted_ = 0;
  uint64_t handled_ = 0;
  uint64_t longestUs_ = 0;
  std::deque<uint64_t> postedAt_;  // microseconds, of the messages in flight
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_STAND_IN_HOST_PULSE_WIN_H_
