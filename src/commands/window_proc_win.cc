#include <windows.h>

#include "commands/instance_env_win.h"
#include "commands/library_functions_win.h"
#include "registry/process_state_win.h"

namespace zanvor {

LRESULT CALLBACK InstanceWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ProcessState& state = State();
  if (state.messageId == 0 || message != state.messageId) {
    return CallWindowProcA(state.previousWindowProc, window, message, wParam, lParam);
  }
  // Every instance message is ours: handled here and never passed on. The
  // host's message loop called us, so nothing may unwind past this frame.
  try {
    Protocol().OnInstanceMessage(static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam));
  } catch (...) {
  }
  return 1;
}

}  // namespace zanvor
