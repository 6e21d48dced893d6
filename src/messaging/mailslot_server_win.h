// The server side of the machine's mailslot: the claim of the server role
// (the mutex "VFPZanvor", the mailslot and the receive timer) and one tick of
// the timer that drains the mailslot into a ReceiveSink.
#ifndef ZANVOR_MESSAGING_MAILSLOT_SERVER_WIN_H_
#define ZANVOR_MESSAGING_MAILSLOT_SERVER_WIN_H_

#include <windows.h>

#include "contract/network.h"
#include "messaging/receive_tick.h"
#include "registry/process_state_win.h"

namespace zanvor {

constexpr UINT kReceiveIntervalMs = 200;

class MailslotServer {
 public:
  // REQUIRES: state and sink outlive the server. timerProc is the thread
  // timer's callback; it must end up in Tick() of this server.
  MailslotServer(ProcessState& state, ReceiveSink& sink, TIMERPROC timerProc)
      : state_(state), sink_(sink), timerProc_(timerProc) {}
  MailslotServer(const MailslotServer&) = delete;
  MailslotServer& operator=(const MailslotServer&) = delete;

  // Waits on the server mutex without blocking. A win (WAIT_ABANDONED
  // counts: the dead owner's role passes to us) keeps or creates the
  // mailslot and the receive timer; a second win by the instance that
  // already holds the role keeps both. Returns whether this instance holds
  // the role afterwards.
  bool Claim();
  // Gives the role's receiving side up: kills the timer, closes the mailslot.
  void Stop();
  // One timer tick. Never throws: it runs inside the host's message loop.
  void Tick() noexcept;

  // The duplicate filter and the once-per-load error flags: they live as
  // long as the library is loaded.
  ReceiveState& receiving() { return receiving_; }

 private:
  bool CreateServerMailslot();

  ProcessState& state_;
  ReceiveSink& sink_;
  TIMERPROC timerProc_;
  ReceiveState receiving_;
};

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_MAILSLOT_SERVER_WIN_H_
