#include "messaging/mailslot_server_win.h"

#include <cstdio>
#include <string>

#include "messaging/mailslot_read.h"

namespace zanvor {
namespace {

class WinMailslotOps final : public MailslotOps {
 public:
  explicit WinMailslotOps(const UniqueFile& mailslot) : mailslot_(mailslot) {}
  bool HasMailslot() override { return mailslot_.valid(); }
  bool NextSize(uint32_t* nextSize) override {
    DWORD next = 0;
    DWORD count = 0;
    if (!GetMailslotInfo(mailslot_.get(), nullptr, &next, &count, nullptr)) return false;
    *nextSize = next;
    return true;
  }
  bool Read(uint8_t* buffer, uint32_t request, uint32_t* bytesRead) override {
    DWORD read = 0;
    const BOOL ok = ReadFile(mailslot_.get(), buffer, request, &read, nullptr);
    *bytesRead = read;
    return ok != FALSE;
  }

 private:
  const UniqueFile& mailslot_;
};

}  // namespace

bool MailslotServer::CreateServerMailslot() {
  state_.mailslotHandle.reset();
  HANDLE h = CreateMailslotA(kServerMailslotName, 0, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  state_.mailslotHandle.reset(h);
  return true;
}

bool MailslotServer::Claim() {
  if (!state_.serverMutex) return false;
  const DWORD r = WaitForSingleObject(state_.serverMutex.get(), 0);
  if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) return false;
  if (state_.ownsServerMutex) {
    // Already ours: give the count this wait added straight back.
    ReleaseMutex(state_.serverMutex.get());
    if (state_.mailslotHandle && state_.timerId) return true;
  }
  state_.ownsServerMutex = true;
  if (!state_.mailslotHandle) {
    if (!CreateServerMailslot()) {
      char text[64];
      snprintf(text, sizeof text, "Unable to open mailslot. Error: %d",
               static_cast<int>(GetLastError()));
      sink_.ShowErrorBox(text);
      return true;
    }
  }
  if (!state_.timerId) {
    state_.timerId.reset(SetTimer(nullptr, 1, kReceiveIntervalMs, timerProc_));
  }
  return true;
}

void MailslotServer::Stop() {
  state_.timerId.reset();
  state_.mailslotHandle.reset();
}

void MailslotServer::Tick() noexcept {
  try {
    WinMailslotOps ops(state_.mailslotHandle);
    RunReceiveTick(ops, GetTickCount(), sink_, receiving_);
  } catch (...) {
    // Nothing may unwind into the message loop that dispatched the timer.
  }
}

}  // namespace zanvor
