#include "commands/instance_env_win.h"
#include "commands/library_functions_win.h"

namespace zanvor {

LRESULT HandleWindowMessage(const MachineObjects& machine, UdpReceiver& udp,
                            InstanceProtocol& protocol, WNDPROC previous, HWND window, UINT message,
                            WPARAM wParam, LPARAM lParam) {
  if (udp.notifyMessage() != 0 && message == udp.notifyMessage()) {
    udp.OnNotify(lParam);
    return 0;
  }
  for (const ExtensionMessageName& extension : kExtensionMessages) {
    const UINT id = machine.messages.Extension(extension.message);
    if (id == 0 || message != id) continue;
    protocol.OnExtensionMessage(extension.message, static_cast<uint32_t>(wParam),
                                static_cast<uint32_t>(lParam));
    return 1;
  }
  const UINT instanceMessage = machine.messages.instance;
  if (instanceMessage == 0 || message != instanceMessage) {
    return CallWindowProcA(previous, window, message, wParam, lParam);
  }
  protocol.OnInstanceMessage(static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam));
  return 1;
}

}  // namespace zanvor
