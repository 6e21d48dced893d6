// The work of the host-callable functions that talk to Windows, and of the
// window procedure, on the parts of the process object they need. The
// composition root defines the entry points the host and Windows call and
// forwards to these.
#ifndef ZANVOR_COMMANDS_LIBRARY_FUNCTIONS_WIN_H_
#define ZANVOR_COMMANDS_LIBRARY_FUNCTIONS_WIN_H_

#include <windows.h>

#include "base/window_subclass_win.h"
#include "commands/instance_protocol.h"
#include "host/host_call.h"
#include "messaging/packet_id_win.h"
#include "messaging/udp_path_win.h"
#include "registry/join_result.h"
#include "registry/machine_objects_win.h"

namespace zanvor {

// ZANVOR_INIT: opens the machine's named objects, subclasses the host's main
// window with `windowProc`, points the UDP notifications at it and joins the
// machine's instances. Raises nothing: when a named object cannot be opened,
// the host has no main window or the window cannot be subclassed, the
// instance does not join (InstanceProtocol::Joined), holds what it opened
// until ZANVOR_EXIT, and the step that failed is returned.
JoinResult JoinMachine(MachineObjects& machine, WindowSubclass& subclass, UdpReceiver& udp,
                       InstanceProtocol& protocol, SubclassHandler windowProc);

// ZANVOR(name, message).
void PostToNetwork(HostCall& call, PacketIdSource& packetIds, UdpSender& udp);

// The subclassed main window's procedure: every InstanceMessage, every one
// of the library's own messages and every UDP notification is handled here
// and never passed on; everything else goes to `previous`, the procedure the
// subclass replaced. May throw std::bad_alloc from the protocol's handling
// of a message of ours, which counts as handled (1): the window procedure
// catches it.
LRESULT HandleWindowMessage(const MachineObjects& machine, UdpReceiver& udp,
                            InstanceProtocol& protocol, WNDPROC previous, HWND window, UINT message,
                            WPARAM wParam, LPARAM lParam);

}  // namespace zanvor

#endif  // ZANVOR_COMMANDS_LIBRARY_FUNCTIONS_WIN_H_
