// The one ProcessState of this host process: the machine-wide named objects
// this instance holds, its windows and the registered message. Everything is
// touched only on the host's main thread (commands, the subclassed window
// procedure and the receive timer all run there), so nothing here is locked.
#ifndef ZANVOR_REGISTRY_PROCESS_STATE_WIN_H_
#define ZANVOR_REGISTRY_PROCESS_STATE_WIN_H_

#include <windows.h>

#include "base/unique_handle_win.h"

namespace zanvor {

struct ProcessState {
  UniqueHandle serverMutex;     // "VFPZanvor": owned by the server instance's thread
  UniqueHandle bufferMutex;     // "vfp_zanvor_mu": serialises ring writers
  UniqueHandle bufferSection;   // "vfp_zanvor": the 16 KB ring
  UniqueFile mailslotHandle;    // server side of the machine's mailslot
  UniqueThreadTimer timerId;    // the 200 ms receive timer
  HWND mainWindow = nullptr;
  UINT messageId = 0;
  WNDPROC previousWindowProc = nullptr;
  // True while this thread holds one ownership count of serverMutex. A
  // second successful wait by the owner adds a count that must be given back
  // at once, or the mutex would stay owned after ZANVOR_EXIT released it.
  bool ownsServerMutex = false;
};

ProcessState& State();

// The server instance: serverWindow equals mainWindow (not null).
bool IsServerInstance();
// A remote server is known: serverWindow is set and is not mainWindow.
bool RemoteServerKnown();

}  // namespace zanvor

#endif  // ZANVOR_REGISTRY_PROCESS_STATE_WIN_H_
