// ZANVOR_INIT: join this machine's instances when the host loads the
// library. Raises no host error. ZANVOR_EXIT undoes these steps in reverse
// (see LibraryProcess).
#include "commands/instance_env_win.h"
#include "commands/library_functions_win.h"
#include "contract/network.h"
#include "host/host_services_win.h"

namespace zanvor {

JoinResult JoinMachine(MachineObjects& machine, WindowSubclass& subclass, UdpReceiver& udp,
                       InstanceProtocol& protocol, SubclassHandler windowProc) {
  const HWND mainWindow = AsWindow(GetWindowHandle(GetHostWindowId()));
  protocol.mainWindow = WindowValue(mainWindow);
  protocol.tables.ResetSubscribers();

  const JoinResult opened = machine.Open();
  if (opened.failed != JoinStep::kNone) return opened;
  // Without a window (a COM server, a service) there is nothing to subclass
  // and nobody could reach this instance. It stays out: it never takes the
  // role, SUBSCRIBE and ZANVOR_LOCAL raise, and ZANVOR still sends. So does
  // an instance that stopped at any step above.
  if (mainWindow == nullptr || !IsWindow(mainWindow)) return {JoinStep::kMainWindow, 0};
  // Every entry of the subclass may be held by pass-throughs that earlier
  // loads left under a program's event bindings: then, too, nobody could
  // reach this instance.
  if (!subclass.Install(mainWindow, windowProc)) return {JoinStep::kSubclass, GetLastError()};
  udp.SetNotifyWindow(mainWindow, RegisterWindowMessageA(kUdpNotifyMessageName));
  protocol.Join();
  return {};
}

}  // namespace zanvor
