#include "commands/instance_env_win.h"
#include "commands/library_functions_win.h"

namespace zanvor {

LRESULT HandleWindowMessage(ProcessState& state, UdpReceiver& udp, InstanceProtocol& protocol,
                            WNDPROC previous, HWND window, UINT message, WPARAM wParam,
                            LPARAM lParam) {
  if (udp.notifyMessage() != 0 && message == udp.notifyMessage()) {
    udp.OnNotify(lParam);
    return 0;
  }
  for (const ExtensionMessage which :
       {ExtensionMessage::kRegisterAck, ExtensionMessage::kRegisterUndo,
        ExtensionMessage::kStatus}) {
    const UINT id = ExtensionMessageId(state, which);
    if (id == 0 || message != id) continue;
    try {
      protocol.OnExtensionMessage(which, static_cast<uint32_t>(wParam),
                                  static_cast<uint32_t>(lParam));
    } catch (...) {
    }
    return 1;
  }
  if (state.messageId == 0 || message != state.messageId) {
    return CallWindowProcA(previous, window, message, wParam, lParam);
  }
  // The host's message loop called us, so nothing may unwind past this frame.
  try {
    protocol.OnInstanceMessage(static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam));
  } catch (...) {
  }
  return 1;
}

}  // namespace zanvor
