// The DLL's own frame: the LibraryProcess of the current load, the function
// table the host reads, the seven entry points it calls and DllMain.
#include <windows.h>

#include <cstdlib>
#include <optional>

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

// A fresh one for every load. The module normally goes with its unload, and
// its globals with it; but a module that left a pass-through in the host
// window's chain (see WindowSubclass) stays pinned, and the host's next SET
// LIBRARY gets the same module back without a new DLL_PROCESS_ATTACH. That
// load must not inherit the last one's tables, pending names and
// once-per-load flags. The one of the last load lives on past its
// ZANVOR_EXIT, as it always did, until the next load or the process's end.
std::optional<LibraryProcess> library;

LibraryProcess& Library() {
  if (!library) library.emplace();
  return *library;
}

void __fastcall ZANVOR_INIT(void*) {
  library.reset();
  Library().Init();
}
void __fastcall ZANVOR_EXIT(void*) { Library().Exit(); }

// ZANVOR, ZANVOR_LOCAL, LIST_SUBSCR, SUBSCRIBE and UNSUBSCRIBE: one of the
// process object's functions on the host's parameters.
template <void (LibraryProcess::*Function)(HostCall&)>
void __fastcall HostFunction(void* parameters) {
  WinHostCall call(parameters);
  (Library().*Function)(call);
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
  t.functions[2] = {AddressOf("ZANVOR"), EntryOf(HostFunction<&LibraryProcess::Post>), 2,
                    AddressOf("CC")};
  t.functions[3] = {AddressOf("ZANVOR_LOCAL"), EntryOf(HostFunction<&LibraryProcess::PostLocal>), 2,
                    AddressOf("CC")};
  t.functions[4] = {AddressOf("LIST_SUBSCR"),
                    EntryOf(HostFunction<&LibraryProcess::ListSubscriptions>), 0, AddressOf("")};
  t.functions[5] = {AddressOf("SUBSCRIBE"), EntryOf(HostFunction<&LibraryProcess::Subscribe>), 2,
                    AddressOf("CC")};
  t.functions[6] = {AddressOf("UNSUBSCRIBE"), EntryOf(HostFunction<&LibraryProcess::Unsubscribe>),
                    1, AddressOf("C")};
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
