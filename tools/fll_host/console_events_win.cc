#include "fll_host/console_events_win.h"

namespace zanvor {
namespace {

// Made once by CatchInterrupts and never freed: the system may run the
// handler on its own thread up to the process's last moment.
ConsoleEventGate* g_gate = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) { return g_gate->OnEvent(event); }

}  // namespace

std::unique_ptr<ConsoleEventGate> ConsoleEventGate::Create(DWORD mainThread, DWORD unloadWaitMs) {
  UniqueHandle unloaded(CreateEventA(nullptr, TRUE, TRUE, nullptr));
  if (!unloaded) return nullptr;
  return std::unique_ptr<ConsoleEventGate>(
      new ConsoleEventGate(mainThread, unloadWaitMs, std::move(unloaded)));
}

ConsoleEventGate::ConsoleEventGate(DWORD mainThread, DWORD unloadWaitMs, UniqueHandle unloaded)
    : mainThread_(mainThread), unloadWaitMs_(unloadWaitMs), unloaded_(std::move(unloaded)) {}

BOOL ConsoleEventGate::OnEvent(DWORD event) {
  // Marked before the wait below looks at the event object: BeginLoaded
  // resets that object before it reads the mark, so a load either sees the
  // mark and does not start, or is waited for.
  interrupted_ = true;
  // Wakes MsgWaitForMultipleObjectsEx; the null message does nothing else.
  PostThreadMessageA(mainThread_, WM_NULL, 0, 0);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    WaitForSingleObject(unloaded_.get(), unloadWaitMs_);
  }
  return TRUE;
}

bool ConsoleEventGate::BeginLoaded() {
  ResetEvent(unloaded_.get());
  if (!interrupted_) return true;
  SetEvent(unloaded_.get());
  return false;
}

void ConsoleEventGate::EndLoaded() { SetEvent(unloaded_.get()); }

void CatchInterrupts() {
  if (g_gate != nullptr) return;
  g_gate = ConsoleEventGate::Create(GetCurrentThreadId()).release();
  if (g_gate != nullptr) SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

bool Interrupted() { return g_gate != nullptr && g_gate->interrupted(); }

bool BeginLibraryLoaded() { return g_gate == nullptr || g_gate->BeginLoaded(); }

void EndLibraryLoaded() {
  if (g_gate != nullptr) g_gate->EndLoaded();
}

}  // namespace zanvor
