// ZANVOR_INIT and ZANVOR_EXIT: join this machine's instances when the host
// loads the library, and leave them, handing the server role on, when it
// unloads it. Neither raises a host error.
#include "commands/instance_env_win.h"
#include "commands/library_functions_win.h"
#include "contract/extension_messages.h"
#include "contract/instance_message.h"
#include "contract/machine_objects.h"
#include "contract/network.h"
#include "host/host_services_win.h"

namespace zanvor {

void JoinMachine(ProcessState& state, UdpReceiver& udp, InstanceProtocol& protocol,
                 SubclassHandler windowProc) {
  const HWND mainWindow = AsWindow(GetWindowHandle(GetHostWindowId()));
  protocol.mainWindow = WindowValue(mainWindow);
  protocol.tables.ResetSubscribers();

  state.serverMutex.reset(CreateMutexA(nullptr, FALSE, kServerMutexName));
  if (!state.serverMutex) return;
  state.messageId = RegisterWindowMessageA(kInstanceMessageName);
  state.ackMessageId = RegisterWindowMessageA(kRegisterAckMessageName);
  state.undoMessageId = RegisterWindowMessageA(kRegisterUndoMessageName);
  state.statusMessageId = RegisterWindowMessageA(kStatusMessageName);
  state.bufferMutex.reset(CreateMutexA(nullptr, FALSE, kBufferMutexName));
  if (!state.bufferMutex) return;
  state.bufferSection.reset(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kSectionName));
  if (!state.bufferSection) {
    state.bufferSection.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                 kSectionSize, kSectionName));
  }
  if (!state.bufferSection) return;
  // Without a window (a COM server, a service) there is nothing to subclass
  // and nobody could reach this instance. It stays out: it never takes the
  // role, SUBSCRIBE and ZANVOR_LOCAL raise, and ZANVOR still sends. So does
  // an instance that stopped at any step above.
  if (mainWindow == nullptr || !IsWindow(mainWindow)) return;
  // Every entry of the subclass may be held by pass-throughs that earlier
  // loads left under a program's event bindings: then, too, nobody could
  // reach this instance.
  if (!state.subclass.Install(mainWindow, windowProc)) return;
  udp.SetNotifyWindow(mainWindow, RegisterWindowMessageA(kUdpNotifyMessageName));
  protocol.Join();
}

void LeaveMachine(ProcessState& state, MailslotServer& server, UdpReceiver& udp,
                  InstanceProtocol& protocol) {
  server.Stop();
  udp.Close();
  // From here on no InstanceMessage reaches this instance, its own
  // ServerLeaving broadcast included. When a program subclassed the window
  // after us, our procedure stays in its chain as a pass-through.
  state.subclass.reset();
  if (state.serverMutex && state.ownsServerMutex) {
    ReleaseMutex(state.serverMutex.get());
    state.ownsServerMutex = false;
  }
  if (state.bufferMutex) ReleaseMutex(state.bufferMutex.get());  // safety release
  protocol.Leave();
  state.retryTimer.reset();
  state.serverMutex.reset();
  state.bufferMutex.reset();
  state.bufferSection.reset();
}

}  // namespace zanvor
