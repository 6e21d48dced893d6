#include <windows.h>

#include "host/thread_context_win.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(module);
      return zanvor::AttachProcess() ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
      zanvor::DetachProcess();
      return TRUE;
    default:
      return TRUE;
  }
}
