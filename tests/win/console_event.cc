// console_event.exe PID close|logoff|shutdown: delivers a console control
// event to a process the way Windows does, for the whole-system tests.
//
// Windows runs a process's console handlers on a thread it starts in that
// process at CtrlRoutine, with the event as its parameter, and ends the
// process when the handler returns (or after about 5 s). Wine has no
// console window to close, so this does both steps: a remote thread at the
// same CtrlRoutine (system DLLs lie at the same address in every process of
// a prefix), then TerminateProcess once that thread ended. It prints
// "HANDLED ms=N", N the milliseconds the handler took.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/unique_handle_win.h"

namespace {

// How long the system lets a handler run before it ends the process anyway.
constexpr DWORD kSystemWaitMs = 5000;

int Fail(const char* what) {
  std::fprintf(stderr, "console_event: %s failed: error %lu\n", what, GetLastError());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: console_event PID close|logoff|shutdown\n");
    return 2;
  }
  DWORD event = CTRL_CLOSE_EVENT;
  if (std::strcmp(argv[2], "logoff") == 0) event = CTRL_LOGOFF_EVENT;
  if (std::strcmp(argv[2], "shutdown") == 0) event = CTRL_SHUTDOWN_EVENT;
  const DWORD pid = static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10));
  zanvor::UniqueHandle process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid));
  if (!process) return Fail("OpenProcess");
  HMODULE kernel = GetModuleHandleA("kernelbase.dll");
  FARPROC routine = kernel == nullptr ? nullptr : GetProcAddress(kernel, "CtrlRoutine");
  if (routine == nullptr) routine = GetProcAddress(GetModuleHandleA("kernel32.dll"), "CtrlRoutine");
  if (routine == nullptr) return Fail("GetProcAddress(CtrlRoutine)");
  const ULONGLONG start = GetTickCount64();
  zanvor::UniqueHandle thread(
      CreateRemoteThread(process.get(), nullptr, 0,
                         reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(routine)),
                         reinterpret_cast<void*>(static_cast<uintptr_t>(event)), 0, nullptr));
  if (!thread) return Fail("CreateRemoteThread");
  WaitForSingleObject(thread.get(), kSystemWaitMs);
  const ULONGLONG took = GetTickCount64() - start;
  // STATUS_CONTROL_C_EXIT, the exit code Windows gives a process it ends so.
  TerminateProcess(process.get(), 0xC000013A);
  std::printf("HANDLED ms=%llu\n", took);
  return 0;
}
