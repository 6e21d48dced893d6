// The seven functions FoxPro code sees, as the host calls them: __fastcall,
// one argument, the ParameterBlock address.
#ifndef ZANVOR_COMMANDS_LIBRARY_FUNCTIONS_WIN_H_
#define ZANVOR_COMMANDS_LIBRARY_FUNCTIONS_WIN_H_

#include <windows.h>

#include "contract/host_abi.h"

namespace zanvor {

void __fastcall ZANVOR_INIT(void* parameters);
void __fastcall ZANVOR_EXIT(void* parameters);
void __fastcall ZANVOR(void* parameters);
void __fastcall ZANVOR_LOCAL(void* parameters);
void __fastcall LIST_SUBSCR(void* parameters);
void __fastcall SUBSCRIBE(void* parameters);
void __fastcall UNSUBSCRIBE(void* parameters);

const LibraryTable* GetLibraryTable();

LRESULT CALLBACK InstanceWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace zanvor

#endif  // ZANVOR_COMMANDS_LIBRARY_FUNCTIONS_WIN_H_
