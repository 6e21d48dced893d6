// The DLL's own frame: the one LibraryProcess of this host process, the
// function table the host reads, the seven entry points it calls and
// DllMain.
#include <windows.h>

#include <cstdlib>

#include "base/address.h"
#include "contract/host_abi.h"
#include "host/dispatch_win.h"
#include "host/host_services_win.h"
#include "host/thread_context_win.h"
#include "library_process_win.h"

// The toolchain's default terminate handler prints the exception's type
// through the C++ demangler, which is a sixth of the library's size. Every
// entry point of ours catches everything, so terminate can only mean a bug
// in the library: it ends the process at once, as the default does after
// printing.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace zanvor {
namespace {

LibraryProcess library;

void __fastcall ZANVOR_INIT(void*) { library.Init(); }
void __fastcall ZANVOR_EXIT(void*) { library.Exit(); }

void __fastcall ZANVOR(void* parameters) {
  WinHostCall call(parameters);
  library.Post(call);
}

void __fastcall ZANVOR_LOCAL(void* parameters) {
  WinHostCall call(parameters);
  library.PostLocal(call);
}

void __fastcall LIST_SUBSCR(void* parameters) {
  WinHostCall call(parameters);
  library.ListSubscriptions(call);
}

void __fastcall SUBSCRIBE(void* parameters) {
  WinHostCall call(parameters);
  library.Subscribe(call);
}

void __fastcall UNSUBSCRIBE(void* parameters) {
  WinHostCall call(parameters);
  library.Unsubscribe(call);
}

template <typename F>
uint32_t EntryOf(F* f) {
  return AddressOf(reinterpret_cast<const void*>(f));
}

// The host keeps the table's address for as long as the library is loaded.
struct FunctionTable {
  LibraryFunction functions[7];
  LibraryTable table;
};
FunctionTable functionTable;

void FillFunctionTable(FunctionTable& t) {
  t.functions[0] = {AddressOf("ZANVOR_INIT"), EntryOf(ZANVOR_INIT), kParameterCountRunAtLoad,
                    AddressOf("")};
  t.functions[1] = {AddressOf("ZANVOR_EXIT"), EntryOf(ZANVOR_EXIT), kParameterCountRunAtUnload,
                    AddressOf("")};
  t.functions[2] = {AddressOf("ZANVOR"), EntryOf(ZANVOR), 2, AddressOf("CC")};
  t.functions[3] = {AddressOf("ZANVOR_LOCAL"), EntryOf(ZANVOR_LOCAL), 2, AddressOf("CC")};
  t.functions[4] = {AddressOf("LIST_SUBSCR"), EntryOf(LIST_SUBSCR), 0, AddressOf("")};
  t.functions[5] = {AddressOf("SUBSCRIBE"), EntryOf(SUBSCRIBE), 2, AddressOf("CC")};
  t.functions[6] = {AddressOf("UNSUBSCRIBE"), EntryOf(UNSUBSCRIBE), 1, AddressOf("C")};
  t.table = {0, 7, AddressOf(t.functions)};
}

}  // namespace
}  // namespace zanvor

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(module);
      zanvor::FillFunctionTable(zanvor::functionTable);
      zanvor::InstallLibraryTable(&zanvor::functionTable.table);
      return zanvor::AttachProcess() ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
      zanvor::DetachProcess();
      return TRUE;
    default:
      return TRUE;
  }
}
