#include "commands/library_functions_win.h"

namespace zanvor {

LRESULT HandleWindowMessage(ProcessState& state, InstanceProtocol& protocol, HWND window,
                            UINT message, WPARAM wParam, LPARAM lParam) {
  if (state.messageId == 0 || message != state.messageId) {
    return CallWindowProcA(state.previousWindowProc, window, message, wParam, lParam);
  }
  // The host's message loop called us, so nothing may unwind past this frame.
  try {
    protocol.OnInstanceMessage(static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam));
  } catch (...) {
  }
  return 1;
}

}  // namespace zanvor
