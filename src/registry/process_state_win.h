// What one instance holds of its machine: the named objects, the server
// side of the mailslot and the receive timer, the registered message and the
// subclass of the host's main window. One ProcessState is owned by the
// library's process object; everything is touched only on the host's main
// thread (commands, the subclassed window procedure and the receive timer
// all run there), so nothing here is locked. The instance's windows and its
// role live in the InstanceProtocol.
#ifndef ZANVOR_REGISTRY_PROCESS_STATE_WIN_H_
#define ZANVOR_REGISTRY_PROCESS_STATE_WIN_H_

#include <windows.h>

#include "base/unique_handle_win.h"
#include "base/window_subclass_win.h"

namespace zanvor {

struct ProcessState {
  UniqueHandle serverMutex;      // "VFPZanvor": owned by the server instance's thread
  UniqueHandle bufferMutex;      // "vfp_zanvor_mu": serialises ring writers
  UniqueHandle bufferSection;    // "vfp_zanvor": the 16 KB ring
  UniqueFile mailslotHandle;     // server side of the machine's mailslot
  UniqueThreadTimer timerId;     // the 200 ms receive timer
  UniqueThreadTimer retryTimer;  // resends unacknowledged registrations

  // Ends the settle of an instance that has just taken the server role over.
  UniqueThreadTimer settleTimer;
  UINT messageId = 0;
  // The library's own messages (extension_messages.h), by ExtensionMessage.
  UINT ackMessageId = 0;
  UINT undoMessageId = 0;
  UINT statusMessageId = 0;
  // InstanceWindowProc on the host's main window; it holds the procedure it
  // replaced (previousWindowProc), to which other messages go.
  WindowSubclass subclass;
  // True while this thread holds one ownership count of serverMutex. A
  // second successful wait by the owner adds a count that must be given back
  // at once, or the mutex would stay owned after ZANVOR_EXIT released it.
  bool ownsServerMutex = false;
};

}  // namespace zanvor

#endif  // ZANVOR_REGISTRY_PROCESS_STATE_WIN_H_
