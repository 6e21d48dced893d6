// The composition root: one LibraryProcess per loaded library owns the whole
// state of this instance (the machine objects it holds, the subclass of the
// host's main window, the server role with its receive state, the instance
// protocol with its tables, the packet ids) and wires the subsystems to each
// other. The DLL builds a fresh one at every load (ZANVOR_INIT); a test
// builds its own.
//
// Windows calls the window procedure and the timer procedures without a
// context of ours, so they reach the LibraryProcess that is current: the one
// constructed last that is still alive.
#ifndef ZANVOR_LIBRARY_PROCESS_WIN_H_
#define ZANVOR_LIBRARY_PROCESS_WIN_H_

#include <windows.h>

#include <memory>

#include "base/window_subclass_win.h"
#include "commands/instance_env_win.h"
#include "commands/instance_protocol.h"
#include "host/host_call.h"
#include "messaging/packet_id_win.h"
#include "messaging/server_role_win.h"
#include "messaging/udp_path_win.h"
#include "registry/join_result.h"
#include "registry/machine_objects_win.h"

namespace zanvor {

class LibraryProcess {
 public:
  LibraryProcess();
  // Without Exit (the library unloaded without ZANVOR_EXIT, under the
  // loader lock): the owners below close what they hold, but nothing of
  // Exit's runs (no broadcast, no Winsock call).
  ~LibraryProcess();
  LibraryProcess(const LibraryProcess&) = delete;
  LibraryProcess& operator=(const LibraryProcess&) = delete;

  // The seven host-callable functions.
  void Init();
  void Exit();
  void Post(HostCall& call);
  void PostLocal(HostCall& call);
  void Subscribe(HostCall& call);
  void Unsubscribe(HostCall& call);
  void ListSubscriptions(HostCall& call);

  // Declared in dependency order: each member is handed the ones above it;
  // the receive sink is bound to the protocol below it once that exists.
  // The duplicate filter both paths share, and the once-per-load flags.
  ReceiveState receiving;
  ProtocolReceiveSink receiveSink;
  MachineObjects machine;
  WindowSubclass subclass;
  ServerRole role;
  WinInstanceEnv env;
  InstanceProtocol protocol;
  PacketIdSource packetIds;
  // ZANVOR's UDP socket and broadcast targets, kept from the first post to
  // the unload.
  UdpSender udpSender;
  // Where Init stopped and why (JoinStep::kNone once it took every step).
  // Not shown anywhere yet; a status text could say from it why an instance
  // stays outside its machine.
  JoinResult joinResult;

 private:
  class Membership;
  // What this load holds of its machine, undone by Exit; made afresh then.
  std::unique_ptr<Membership> membership_;
  LibraryProcess* previous_;
};

// The library's handling of the host's main window's messages (reached
// through the window's subclass, which hands it the procedure it replaced),
// the receive timer's, the registration retry timer's, the settle timer's and
// the UDP resume timer's procedures: the callback edges. All forward to the
// current LibraryProcess and let nothing unwind into Windows.
LRESULT InstanceWindowProc(WNDPROC previous, HWND window, UINT message, WPARAM wParam,
                           LPARAM lParam);
void CALLBACK ReceiveTimerProc(HWND window, UINT message, UINT_PTR eventId, DWORD time);
void CALLBACK RetryTimerProc(HWND window, UINT message, UINT_PTR eventId, DWORD time);
void CALLBACK SettleTimerProc(HWND window, UINT message, UINT_PTR eventId, DWORD time);
void CALLBACK UdpResumeTimerProc(HWND window, UINT message, UINT_PTR eventId, DWORD time);

}  // namespace zanvor

#endif  // ZANVOR_LIBRARY_PROCESS_WIN_H_
