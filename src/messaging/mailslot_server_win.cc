#include "messaging/mailslot_server_win.h"

#include <cstdio>
#include <string>

#include "commands/instance_env_win.h"
#include "host/host_services_win.h"
#include "messaging/mailslot_read.h"
#include "messaging/receive_tick.h"
#include "registry/process_state_win.h"

namespace zanvor {
namespace {

ReceiveState& Receiving() {
  static ReceiveState state;  // the duplicate filter lives as long as the library
  return state;
}

bool CreateServerMailslot() {
  ProcessState& state = State();
  state.mailslotHandle.reset();
  HANDLE h = CreateMailslotA(kServerMailslotName, 0, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  state.mailslotHandle.reset(h);
  return true;
}

class WinMailslotOps final : public MailslotOps {
 public:
  bool HasMailslot() override { return State().mailslotHandle.valid(); }
  bool NextSize(uint32_t* nextSize) override {
    DWORD next = 0;
    DWORD count = 0;
    if (!GetMailslotInfo(State().mailslotHandle.get(), nullptr, &next, &count, nullptr)) {
      return false;
    }
    *nextSize = next;
    return true;
  }
  bool Read(uint8_t* buffer, uint32_t request, uint32_t* bytesRead) override {
    DWORD read = 0;
    const BOOL ok = ReadFile(State().mailslotHandle.get(), buffer, request, &read, nullptr);
    *bytesRead = read;
    return ok != FALSE;
  }
};

class WinReceiveSink final : public ReceiveSink {
 public:
  void DispatchReceived(const std::string& name, const std::string& message) override {
    Protocol().DispatchReceived(name, message);
  }
  void ShowErrorBox(const std::string& text) override { zanvor::ShowErrorBox(text); }
  uint32_t LastError() override { return GetLastError(); }
};

}  // namespace

bool ClaimServerMutexAndMailslot() {
  ProcessState& state = State();
  if (!state.serverMutex) return false;
  const DWORD r = WaitForSingleObject(state.serverMutex.get(), 0);
  if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) return false;
  if (state.ownsServerMutex) {
    // Already ours: give the count this wait added straight back.
    ReleaseMutex(state.serverMutex.get());
    if (state.mailslotHandle && state.timerId) return true;
  }
  state.ownsServerMutex = true;
  if (!state.mailslotHandle) {
    if (!CreateServerMailslot()) {
      char text[64];
      snprintf(text, sizeof text, "Unable to open mailslot. Error: %d",
               static_cast<int>(GetLastError()));
      ShowErrorBox(text);
      return true;
    }
  }
  if (!state.timerId) {
    state.timerId.reset(SetTimer(nullptr, 1, kReceiveIntervalMs, MailslotTimerProc));
  }
  return true;
}

void StopReceiving() {
  ProcessState& state = State();
  state.timerId.reset();
  state.mailslotHandle.reset();
}

void CALLBACK MailslotTimerProc(HWND, UINT, UINT_PTR, DWORD) {
  try {
    WinMailslotOps ops;
    WinReceiveSink sink;
    RunReceiveTick(ops, sink, Receiving());
  } catch (...) {
    // Nothing may unwind into the message loop that dispatched the timer.
  }
}

}  // namespace zanvor
