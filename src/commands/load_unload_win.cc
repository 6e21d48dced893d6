// ZANVOR_INIT and ZANVOR_EXIT: join this machine's instances when the host
// loads the library, and leave them, handing the server role on, when it
// unloads it. Neither raises a host error.
#include <windows.h>

#include "commands/instance_env_win.h"
#include "commands/library_functions_win.h"
#include "contract/machine_objects.h"
#include "host/host_services_win.h"
#include "messaging/mailslot_server_win.h"
#include "registry/process_state_win.h"

namespace zanvor {
void __fastcall ZANVOR_INIT(void* /*parameters*/) {
  ProcessState& state = State();
  InstanceProtocol& protocol = Protocol();
  state.mainWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(GetWindowHandle(GetHostWindowId())));
  protocol.mainWindow = WindowValue(state.mainWindow);
  protocol.tables.ResetSubscribers();

  state.serverMutex.reset(CreateMutexA(nullptr, FALSE, kServerMutexName));
  if (!state.serverMutex) return;
  state.messageId = RegisterWindowMessageA(kInstanceMessageName);
  state.bufferMutex.reset(CreateMutexA(nullptr, FALSE, kBufferMutexName));
  if (!state.bufferMutex) return;
  state.bufferSection.reset(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kSectionName));
  if (!state.bufferSection) {
    state.bufferSection.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                 kSectionSize, kSectionName));
  }
  if (!state.bufferSection) return;
  // Without a window there is nothing to subclass and nobody could reach
  // this instance: it stays isolated, working on its own tables.
  if (state.mainWindow == nullptr || !IsWindow(state.mainWindow)) return;
  state.previousWindowProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
      state.mainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&InstanceWindowProc)));
  protocol.Join();
}

void __fastcall ZANVOR_EXIT(void* /*parameters*/) {
  ProcessState& state = State();
  InstanceProtocol& protocol = Protocol();
  StopReceiving();
  if (state.previousWindowProc != nullptr) {
    SetWindowLongPtrA(state.mainWindow, GWLP_WNDPROC,
                      reinterpret_cast<LONG_PTR>(state.previousWindowProc));
    state.previousWindowProc = nullptr;
  }
  if (state.serverMutex && state.ownsServerMutex) {
    ReleaseMutex(state.serverMutex.get());
    state.ownsServerMutex = false;
  }
  if (state.bufferMutex) ReleaseMutex(state.bufferMutex.get());  // safety release
  protocol.Leave();
  state.serverMutex.reset();
  state.bufferMutex.reset();
  state.bufferSection.reset();
}

}  // namespace zanvor
