// The work of the host-callable functions that talk to Windows, and of the
// window procedure, on the parts of the process object they need. The
// composition root defines the entry points the host and Windows call and
// forwards to these.
#ifndef ZANVOR_COMMANDS_LIBRARY_FUNCTIONS_WIN_H_
#define ZANVOR_COMMANDS_LIBRARY_FUNCTIONS_WIN_H_

#include <windows.h>

#include "commands/instance_protocol.h"
#include "host/host_call.h"
#include "messaging/mailslot_server_win.h"
#include "messaging/packet_id_win.h"
#include "messaging/udp_path_win.h"
#include "registry/process_state_win.h"

namespace zanvor {

// ZANVOR_INIT: opens the machine's named objects, subclasses the host's main
// window with `windowProc` and joins the machine's instances. Raises nothing:
// when the host has no main window, a named object cannot be opened or the
// window cannot be subclassed, the instance does not join
// (InstanceProtocol::Joined) and holds what it opened until ZANVOR_EXIT.
void JoinMachine(ProcessState& state, UdpReceiver& udp, InstanceProtocol& protocol,
                 SubclassHandler windowProc);

// ZANVOR_EXIT: stops receiving, takes the subclass off the window (or leaves
// it there as a pass-through, see WindowSubclass), releases the mutexes, hands the server role on
// or withdraws this instance's names, and closes the named objects. Raises nothing.
void LeaveMachine(ProcessState& state, MailslotServer& server, UdpReceiver& udp,
                  InstanceProtocol& protocol);

// ZANVOR(name, message).
void PostToNetwork(HostCall& call, PacketIdSource& packetIds, UdpSender& udp);

// The subclassed main window's procedure: every InstanceMessage and every
// UDP notification is handled here and never passed on; everything else goes
// to `previous`, the procedure the subclass replaced.
LRESULT HandleWindowMessage(ProcessState& state, UdpReceiver& udp, InstanceProtocol& protocol,
                            WNDPROC previous, HWND window, UINT message, WPARAM wParam,
                            LPARAM lParam);

}  // namespace zanvor

#endif  // ZANVOR_COMMANDS_LIBRARY_FUNCTIONS_WIN_H_
