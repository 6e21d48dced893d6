// Owners for the Win32 handles the tools keep (modules, windows), built on the same move-only
// template as the library's kernel handle owners.
#ifndef ZANVOR_TOOLS_COMMON_WIN_HANDLES_H_
#define ZANVOR_TOOLS_COMMON_WIN_HANDLES_H_

#include <windows.h>

#include "base/unique_handle_win.h"

namespace zanvor {

struct ModuleTraits {
  using Handle = HMODULE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { FreeLibrary(h); }
};
using UniqueModule = UniqueResource<ModuleTraits>;

struct WindowTraits {
  using Handle = HWND;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { DestroyWindow(h); }
};
using UniqueWindow = UniqueResource<WindowTraits>;

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_COMMON_WIN_HANDLES_H_
