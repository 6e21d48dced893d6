// The server role of one instance on its machine, and everything that comes
// with it: one ownership count of the mutex "VFPZanvor" (holding it is the
// role), the server side of the machine's mailslot with the receive timer
// that drains it, the UDP socket beside it, and the settle timer of a server
// that has just taken the role over.
#ifndef ZANVOR_MESSAGING_SERVER_ROLE_WIN_H_
#define ZANVOR_MESSAGING_SERVER_ROLE_WIN_H_

#include <windows.h>

#include <optional>

#include "base/unique_handle_win.h"
#include "contract/network.h"
#include "messaging/receive_tick.h"
#include "messaging/udp_path_win.h"
#include "registry/machine_objects_win.h"

namespace zanvor {

constexpr UINT kReceiveIntervalMs = 200;

class ServerRole {
 public:
  // The thread timers' callbacks; each must end up in this role's Tick(),
  // udp().OnResumeTimer() and the protocol's OnSettleTimer().
  struct TimerProcs {
    TIMERPROC receive;
    TIMERPROC udpResume;
    TIMERPROC settle;
  };

  // REQUIRES: machine, sink and receiving outlive the role.
  ServerRole(const MachineObjects& machine, ReceiveSink& sink, ReceiveState& receiving,
             TimerProcs procs)
      : machine_(machine),
        sink_(sink),
        receiving_(receiving),
        procs_(procs),
        udp_(sink, receiving, procs.udpResume) {}
  // Without Release (the library unloaded without ZANVOR_EXIT, under the
  // loader lock): closes the mailslot and kills the timers, but keeps the
  // mutex's count (the role passes on when this thread ends, as an
  // abandoned mutex) and makes no Winsock call (see WinsockSession).
  ~ServerRole();
  ServerRole(const ServerRole&) = delete;
  ServerRole& operator=(const ServerRole&) = delete;

  // Waits on the server mutex without blocking. A win (WAIT_ABANDONED
  // counts: the dead owner's role passes to us) maps the machine's section
  // of recent ids and copies the ids the last server left there into the
  // duplicate filter, keeps or creates the mailslot and the receive timer and opens the UDP socket;
  // a second win by the instance that already holds the role gives the count that wait added
  // straight back, so that the one release of Release frees the mutex. A
  // mailslot that cannot be created is shown with the sink's error box, and
  // the role is held without it. Returns whether this instance holds the
  // role afterwards.
  bool Claim();
  // Gives everything up in the reverse order of Claim: the settle timer, the
  // UDP socket (and its Winsock session), the receive timer, the mailslot,
  // the recent ids' view, and last the mutex's count.
  void Release() { held_.reset(); }
  bool held() const { return held_.has_value(); }

  // One tick of the receive timer. May throw std::bad_alloc; the timer's
  // callback catches it.
  void Tick();

  // The settle timer: fires once, delayMs from now; arming it again
  // replaces the earlier time. False when it could not be set, or the role
  // is not held.
  bool ArmSettleTimer(UINT delayMs);
  void CancelSettleTimer();

  UdpReceiver& udp() { return udp_; }
  const UdpReceiver& udp() const { return udp_; }
  // INVALID_HANDLE_VALUE and 0 while not held (or not made).
  HANDLE mailslot() const { return held_ ? held_->mailslot.get() : INVALID_HANDLE_VALUE; }
  UINT_PTR receiveTimer() const { return held_ ? held_->receiveTimer.get() : 0; }

 private:
  // Closes the receiver when destroyed, unless forgotten.
  class UdpOpen {
   public:
    explicit UdpOpen(UdpReceiver* receiver) : receiver_(receiver) {}
    ~UdpOpen() {
      if (receiver_ != nullptr) receiver_->Close();
    }
    UdpOpen(const UdpOpen&) = delete;
    UdpOpen& operator=(const UdpOpen&) = delete;
    void Forget() { receiver_ = nullptr; }

   private:
    UdpReceiver* receiver_;
  };
  // The machine's recent ids, mapped and attached to the receiving state
  // while the role is held.
  class MachineIdsView {
   public:
    MachineIdsView(HANDLE section, ReceiveState& receiving);
    ~MachineIdsView() { receiving_.machineIds = SharedRecentIds(); }
    MachineIdsView(const MachineIdsView&) = delete;
    MachineIdsView& operator=(const MachineIdsView&) = delete;

   private:
    ReceiveState& receiving_;
    UniqueMappedView view_;
  };
  // What a won claim holds, declared in the order Claim takes it, so that
  // destroying it (Release) gives everything back in reverse.
  struct Held {
    Held(HANDLE mutex, UdpReceiver* receiver, HANDLE idsSection, ReceiveState& receiving)
        : mutex(mutex), machineIds(idsSection, receiving), udp(receiver) {}
    UniqueMutexOwnership mutex;
    MachineIdsView machineIds;
    UniqueFile mailslot;
    UniqueThreadTimer receiveTimer;
    UdpOpen udp;
    UniqueThreadTimer settleTimer;
  };

  const MachineObjects& machine_;
  ReceiveSink& sink_;
  ReceiveState& receiving_;
  TimerProcs procs_;
  UdpReceiver udp_;  // outlives held_, which closes it
  std::optional<Held> held_;
};

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_SERVER_ROLE_WIN_H_
