#include "messaging/server_role_win.h"

#include <cstdio>

#include "messaging/mailslot_read.h"

namespace zanvor {
namespace {

// Asks the role for its mailslot at every step: a handler that pumps
// messages while a tick runs may end the role.
class WinMailslotOps final : public MailslotOps {
 public:
  explicit WinMailslotOps(const ServerRole& role) : role_(role) {}
  bool HasMailslot() override { return role_.mailslot() != INVALID_HANDLE_VALUE; }
  bool NextSize(uint32_t* nextSize) override {
    DWORD next = 0;
    DWORD count = 0;
    if (!GetMailslotInfo(role_.mailslot(), nullptr, &next, &count, nullptr)) return false;
    *nextSize = next;
    return true;
  }
  bool Read(uint8_t* buffer, uint32_t request, uint32_t* bytesRead) override {
    DWORD read = 0;
    const BOOL ok = ReadFile(role_.mailslot(), buffer, request, &read, nullptr);
    *bytesRead = read;
    return ok != FALSE;
  }

 private:
  const ServerRole& role_;
};

}  // namespace

ServerRole::MachineIdsView::MachineIdsView(HANDLE section, ReceiveState& receiving)
    : receiving_(receiving) {
  if (section == nullptr) return;
  view_.reset(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, kRecentIdsSectionSize));
  if (!view_) return;
  receiving_.machineIds = SharedRecentIds(static_cast<uint8_t*>(view_.get()));
  receiving_.machineIds.CopyInto(receiving_.recentIds, GetTickCount());
}

ServerRole::~ServerRole() {
  if (!held_) return;
  held_->mutex.release();
  held_->udp.Forget();
}

bool ServerRole::Claim() {
  const HANDLE mutex = machine_.serverMutex();
  if (mutex == nullptr) return false;
  const DWORD r = WaitForSingleObject(mutex, 0);
  if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) return false;
  if (held_) {
    // Already ours: give the count this wait added straight back.
    ReleaseMutex(mutex);
  } else {
    held_.emplace(mutex, &udp_, machine_.recentIdsSection(), receiving_);
  }
  if (!held_->mailslot) {
    const HANDLE h = CreateMailslotA(kServerMailslotName, 0, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      char text[64];
      snprintf(text, sizeof text, "Unable to open mailslot. Error: %d",
               static_cast<int>(GetLastError()));
      sink_.ShowErrorBox(text);
    } else {
      held_->mailslot.reset(h);
    }
  }
  if (held_->mailslot && !held_->receiveTimer) {
    held_->receiveTimer.reset(SetTimer(nullptr, 1, kReceiveIntervalMs, procs_.receive));
  }
  // Every won claim (load, ServerLeaving, a dead server) opens the UDP
  // socket beside the mailslot, unless it is open.
  udp_.Open();
  return true;
}

void ServerRole::Tick() {
  WinMailslotOps ops(*this);
  RunReceiveTick(ops, GetTickCount(), sink_, receiving_);
}

// A thread timer of its own: the protocol's retry timer runs in a client,
// this one in a new server, and either may be armed while the other is.
bool ServerRole::ArmSettleTimer(UINT delayMs) {
  if (!held_) return false;
  UniqueThreadTimer& timer = held_->settleTimer;
  const UINT_PTR id = SetTimer(nullptr, timer.get(), delayMs, procs_.settle);
  if (id == 0) return false;
  if (id != timer.get()) timer.reset(id);
  return true;
}

void ServerRole::CancelSettleTimer() {
  if (held_) held_->settleTimer.reset();
}

}  // namespace zanvor
