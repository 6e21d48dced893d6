// A stand-in link library for testing the host: it speaks the host contract
// ("@DispatchAPI@4", the LibraryTable, HostRequests, value handles) and
// exposes small functions that make the host's side of it visible: the order
// of dispatch codes, results, raised errors, ExecuteCommand with nesting,
// the main window (broadcast posts, thread timers), the host's block
// handling, and mailslot traffic for the network emulation.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/address.h"
#include "contract/host_abi.h"
#include "host/value_handles.h"

namespace zanvor {
namespace {

class FakeBlockMemory final : public BlockMemory {
 public:
  uint32_t Alloc(uint32_t bytes) override {
    return static_cast<uint32_t>(
        reinterpret_cast<uintptr_t>(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes)));
  }
  bool ReAlloc(uint32_t block, uint32_t bytes) override {
    return GlobalReAlloc(Global(block), bytes, GMEM_MOVEABLE | GMEM_ZEROINIT) != nullptr;
  }
  void Free(uint32_t block) override { GlobalFree(Global(block)); }
  uint8_t* Lock(uint32_t block) override {
    return static_cast<uint8_t*>(GlobalLock(Global(block)));
  }
  void Unlock(uint32_t block) override { GlobalUnlock(Global(block)); }
  static HGLOBAL Global(uint32_t block) {
    return reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(block));
  }
};

using HostCallbackFunction = void(__fastcall*)(RequestRecord*);

FakeBlockMemory g_memory;
HostCallbackFunction g_callback = nullptr;
uint8_t* g_handleTable = nullptr;
uint8_t* g_slotTable = nullptr;
std::string g_events;
HWND g_mainWindow = nullptr;
WNDPROC g_previousProc = nullptr;
UINT g_pingMessage = 0;
std::string g_pingText;
std::string g_tickText;
UINT_PTR g_timer = 0;
HANDLE g_mailslot = INVALID_HANDLE_VALUE;

void Log(const std::string& event) {
  if (!g_events.empty()) g_events += ',';
  g_events += event;
}

uint32_t Send(uint32_t number, uint32_t data, uint32_t extra = 0) {
  RequestRecord record{};
  record.hostRequest = number;
  record.data = data;
  record.extra = extra;
  if (g_callback != nullptr) g_callback(&record);
  return record.data;
}

ValueHandles Handles() { return ValueHandles(g_memory, g_handleTable, g_slotTable); }

void Execute(const std::string& command) {
  Send(kRequestExecuteCommand, AddressOf(command.c_str()));
}
void RaiseText(const std::string& text) { Send(kRequestRaiseErrorText, AddressOf(text.c_str())); }

void Return(const std::string& text) {
  ValueHandles handles = Handles();
  const uint32_t handle = handles.AllocValueHandle(static_cast<uint32_t>(text.size()) + 1, 16);
  if (handle == 0) return;
  std::memcpy(handles.ValueHandleData(handle), text.c_str(), text.size() + 1);
  HostValue value{};
  value.valueType = 'H';
  value.textLength = static_cast<uint32_t>(text.size());
  value.textHandle = handle;
  Send(kRequestReturnValue, AddressOf(&value));
}

// Parameter i (from 1), terminated in its block; false after raising 182.
bool Parameter(void* block, int i, std::string* text) {
  const HostValue& value = *ParameterAt(block, i);
  ValueHandles handles = Handles();
  if (!handles.TerminateParameter(value)) {
    Send(kRequestRaiseErrorNumber, kParameterGrowError);
    return false;
  }
  // The whole text, NULs included, so the host's byte handling shows.
  text->assign(reinterpret_cast<const char*>(handles.ValueHandleData(value.textHandle)),
               value.textLength);
  return true;
}

// Commands carry texts in double quotes; the tests use no quotes in them.
std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

LRESULT CALLBACK PingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == g_pingMessage && g_pingMessage != 0) {
    Execute("? " + Quoted("pong " + g_pingText + " " + std::to_string(wParam)));
    return 1;
  }
  return CallWindowProcA(g_previousProc, window, message, wParam, lParam);
}

void CALLBACK TickProc(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (id == g_timer) g_timer = 0;
  Execute("? " + Quoted("tick " + g_tickText));
}

void RestoreWindowProc() {
  if (g_previousProc != nullptr) {
    SetWindowLongPtrA(g_mainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_previousProc));
    g_previousProc = nullptr;
  }
}

// ---- The functions -------------------------------------------------------

void __fastcall FAKE_INIT(void*) {
  Log("init");
  const uint32_t id = Send(kRequestGetHostWindowId, 0, 1);
  g_mainWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(Send(kRequestGetWindowHandle, id)));
  const bool topLevel = g_mainWindow != nullptr && IsWindow(g_mainWindow) &&
                        GetAncestor(g_mainWindow, GA_PARENT) == GetDesktopWindow();
  Log(topLevel ? "window-ok" : "window-bad");
}

void __fastcall FAKE_EXIT(void*) {
  if (g_timer != 0) KillTimer(nullptr, g_timer);
  g_timer = 0;
  RestoreWindowProc();
  if (g_mailslot != INVALID_HANDLE_VALUE) CloseHandle(g_mailslot);
  g_mailslot = INVALID_HANDLE_VALUE;
  Execute("? \"fake exit\"");
}

void __fastcall EVENTS(void*) { Return(g_events); }

void __fastcall ECHO(void* block) {
  std::string text;
  if (Parameter(block, 1, &text)) Return(text);
}

void __fastcall JOIN(void* block) {
  std::string a, b;
  if (!Parameter(block, 1, &a) || !Parameter(block, 2, &b)) return;
  Return(a + "|" + b);
}

void __fastcall RAISE(void* block) {
  std::string text;
  if (!Parameter(block, 1, &text)) return;
  RaiseText(text);
  // A raised error ends the function: the real library unwinds here.
}

void __fastcall RAISE182(void*) { Send(kRequestRaiseErrorNumber, kParameterGrowError); }

void __fastcall RUN(void* block) {
  std::string command;
  if (!Parameter(block, 1, &command)) return;
  Execute(command);
  Return("after");
}

void __fastcall NORESULT(void*) {}

void __fastcall HANDLES(void*) {
  int live = 0;
  const uint16_t capacity = LoadU16(g_handleTable + 2);
  for (uint32_t i = 1; i < capacity; ++i) {
    if (LoadU32(g_handleTable + 4 + 4 * i) != 0) ++live;
  }
  Return(std::to_string(live) + "/" + std::to_string(capacity) + " next " +
         std::to_string(LoadU16(g_handleTable)) + " slots " + std::to_string(LoadU16(g_slotTable)) +
         "/" + std::to_string(LoadU16(g_slotTable + 4)));
}

// Describes a parameter's block after termination: its data size, its
// header word and the byte after the text.
void __fastcall BLOCKINFO(void* block) {
  std::string text;
  if (!Parameter(block, 1, &text)) return;
  const HostValue& value = *ParameterAt(block, 1);
  const uint32_t global = LoadU32(g_handleTable + 4 + 4 * value.textHandle);
  const SIZE_T size = GlobalSize(FakeBlockMemory::Global(global));
  const uint8_t* p = static_cast<uint8_t*>(GlobalLock(FakeBlockMemory::Global(global)));
  char info[96];
  std::snprintf(info, sizeof info, "type=%c size=%lu header=%u nul=%d", value.valueType,
                static_cast<unsigned long>(size - 2), LoadU16(p), p[2 + value.textLength] == 0);
  GlobalUnlock(FakeBlockMemory::Global(global));
  Return(info);
}

void __fastcall PING(void* block) {
  if (!Parameter(block, 1, &g_pingText)) return;
  if (g_pingMessage == 0) g_pingMessage = RegisterWindowMessageA("FakeFllPing");
  if (g_previousProc == nullptr) {
    g_previousProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(g_mainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PingWindowProc)));
  }
  PostMessageA(HWND_BROADCAST, g_pingMessage, 42, 0);
}

// Leaves the window subclassed at unload, as a faulty library would.
void __fastcall FORGETPROC(void*) { g_previousProc = nullptr; }

void __fastcall TIMER(void* block) {
  if (!Parameter(block, 1, &g_tickText)) return;
  g_timer = SetTimer(nullptr, 0, 100, &TickProc);
}

void __fastcall MS_SERVER(void*) {
  if (g_mailslot == INVALID_HANDLE_VALUE) {
    g_mailslot = CreateMailslotA("\\\\.\\mailslot\\VFP\\ZANVOR\\SERVER", 0, 0, nullptr);
  }
  if (g_mailslot == INVALID_HANDLE_VALUE) {
    RaiseText("CreateMailslotA failed: " + std::to_string(GetLastError()));
  }
}

void __fastcall MS_READ(void*) {
  DWORD next = 0, count = 0;
  if (g_mailslot == INVALID_HANDLE_VALUE ||
      !GetMailslotInfo(g_mailslot, nullptr, &next, &count, nullptr)) {
    RaiseText("no mailslot");
    return;
  }
  if (next == MAILSLOT_NO_MESSAGE) {
    Return("");
    return;
  }
  char buffer[1024];
  DWORD got = 0;
  if (next > sizeof buffer || !ReadFile(g_mailslot, buffer, next, &got, nullptr)) {
    RaiseText("ReadFile failed: " + std::to_string(GetLastError()));
    return;
  }
  Return(std::string(buffer, got));
}

void __fastcall MS_SEND(void* block) {
  std::string text;
  if (!Parameter(block, 1, &text)) return;
  // Through the import table, as the library opens it.
  const HANDLE file =
      CreateFileA("\\\\*\\mailslot\\VFP\\ZANVOR\\SERVER", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    RaiseText("CreateFileA failed: " + std::to_string(GetLastError()));
    return;
  }
  DWORD wrote = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr);
  const DWORD error = GetLastError();
  CloseHandle(file);
  if (!ok) RaiseText("WriteFile failed: " + std::to_string(error));
}

// Tries to take a named mutex without waiting; the answer tells how the wait
// ended. The handle stays open either way (a named mutex lives only while
// some process holds a handle to it), and an owned mutex stays owned.
void __fastcall MUTEX(void* block) {
  std::string name;
  if (!Parameter(block, 1, &name)) return;
  const HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  const DWORD r = mutex == nullptr ? WAIT_FAILED : WaitForSingleObject(mutex, 0);
  Return(r == WAIT_OBJECT_0    ? "owned"
         : r == WAIT_ABANDONED ? "abandoned"
         : r == WAIT_TIMEOUT   ? "busy"
                               : "failed");
}

const char kNoTypes[] = "";
const char kOne[] = "C";
const char kTwo[] = "CC";

#define FAKE_ENTRY(name, count, types) \
  { AddressOf(#name), AddressOf(reinterpret_cast<const void*>(&name)), count, AddressOf(types) }

LibraryFunction g_functions[] = {
    FAKE_ENTRY(FAKE_INIT, -2, kNoTypes), FAKE_ENTRY(FAKE_EXIT, -3, kNoTypes),
    FAKE_ENTRY(EVENTS, 0, kNoTypes),     FAKE_ENTRY(ECHO, 1, kOne),
    FAKE_ENTRY(JOIN, 2, kTwo),           FAKE_ENTRY(RAISE, 1, kOne),
    FAKE_ENTRY(RAISE182, 0, kNoTypes),   FAKE_ENTRY(RUN, 1, kOne),
    FAKE_ENTRY(NORESULT, 0, kNoTypes),   FAKE_ENTRY(HANDLES, 0, kNoTypes),
    FAKE_ENTRY(BLOCKINFO, 1, kOne),      FAKE_ENTRY(PING, 1, kOne),
    FAKE_ENTRY(FORGETPROC, 0, kNoTypes), FAKE_ENTRY(TIMER, 1, kOne),
    FAKE_ENTRY(MS_SERVER, 0, kNoTypes),  FAKE_ENTRY(MS_READ, 0, kNoTypes),
    FAKE_ENTRY(MS_SEND, 1, kOne),        FAKE_ENTRY(MUTEX, 1, kOne),
};

LibraryTable g_table = {0, sizeof g_functions / sizeof g_functions[0], 0};

}  // namespace
}  // namespace zanvor

using namespace zanvor;

extern "C" __declspec(dllexport) uint32_t __fastcall DispatchAPI(RequestRecord* record) {
  g_table.functions = AddressOf(g_functions);
  switch (record->dispatchCode) {
    case kDispatchInit:
      Log("0");
      g_callback = reinterpret_cast<HostCallbackFunction>(static_cast<uintptr_t>(record->function));
      g_handleTable = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(record->data));
      g_slotTable = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(record->extra));
      record->data = AddressOf(&g_table);
      record->extra = kLibraryTableExtra;
      break;
    case kDispatchLibraryTable:
      Log("14");
      record->data = AddressOf(&g_table);
      record->extra = kLibraryTableExtra;
      break;
    case kDispatchCall:
      reinterpret_cast<void(__fastcall*)(void*)>(static_cast<uintptr_t>(record->function))(
          reinterpret_cast<uint8_t*>(record) + kParameterBlockOffset);
      break;
    default:
      Log(std::to_string(record->dispatchCode));
      break;
  }
  return 0;
}
