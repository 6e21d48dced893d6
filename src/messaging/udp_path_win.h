// The UDP path between machines, beside the mailslot: the sending half of a
// post, and the server instance's socket on kUdpPort with its notification.
// Include before <windows.h> (winsock2.h must come first).
#ifndef ZANVOR_MESSAGING_UDP_PATH_WIN_H_
#define ZANVOR_MESSAGING_UDP_PATH_WIN_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/unique_socket_win.h"
#include "messaging/broadcast_targets.h"
#include "messaging/receive_tick.h"

namespace zanvor {

// The sending half: one socket for the load, opened by the first post and
// closed by ZANVOR_EXIT, and the adapters' broadcast targets, listed again
// every two seconds.
class UdpSender {
 public:
  UdpSender() = default;
  // Without Close (the DLL unloaded without ZANVOR_EXIT, or the process
  // ending): makes no Winsock call, see WinsockSession.
  ~UdpSender();
  UdpSender(const UdpSender&) = delete;
  UdpSender& operator=(const UdpSender&) = delete;

  // Sends `packet` once to kUdpPort of every target. True when at least one
  // target took the datagram. (A failure raises the mailslot path's error,
  // so the Winsock one is not kept.)
  bool Send(const uint8_t* packet, uint32_t size);
  void Close();

 private:
  bool Open();

  BroadcastTargetCache targets_;
  // The session outlives the socket: members are destroyed in reverse.
  std::unique_ptr<WinsockSession> session_;
  UniqueSocket socket_;
};

// A drain reads in slices this long and gives way after a slice when the
// host has anything waiting, so that its own input, timers and posted
// messages come between slices however fast datagrams arrive. It reads
// kUdpDatagramsPerDrain datagrams at most.
constexpr uint32_t kUdpDrainBudgetUs = 4000;
constexpr int kUdpDatagramsPerDrain = 5000;
// After a drain that left datagrams waiting, the next one comes from a
// thread timer of this period (Windows' shortest), not from a notification.
constexpr UINT kUdpResumeIntervalMs = 10;

// The server instance's UDP socket, bound to kUdpPort on every IPv4 address
// with SO_REUSEADDR (several server instances of one machine, one per
// terminal-server session, each receive every broadcast). Datagrams go
// through the same steps as the mailslot's, into the same duplicate filter.
//
// Reading: Winsock posts the notification message to the host's main window
// when datagrams wait. The receiver then switches notifications off (every
// recv that leaves a datagram behind would post another, and posted messages
// are taken before the host's input and WM_TIMER) and reads until the host
// has something waiting (checked every kUdpDrainBudgetUs). It switches them
// on again when the socket is empty or only posted messages wait (the
// notification queues behind those). When input, an expired timer or a sent
// message waits, it leaves the rest to a thread timer that drains again every
// kUdpResumeIntervalMs: those are taken only once no posted message waits.
// A flood takes only the time the host leaves idle, and the host keeps its
// own.
class UdpReceiver {
 public:
  // REQUIRES: sink and state outlive the receiver. resumeProc is the resume
  // timer's callback and must end up in OnResumeTimer() of this receiver;
  // without one every drain is followed by notifications at once.
  UdpReceiver(ReceiveSink& sink, ReceiveState& state, TIMERPROC resumeProc = nullptr)
      : sink_(sink), state_(state), resumeProc_(resumeProc) {}
  // Without Close, as for UdpSender: no Winsock call.
  ~UdpReceiver();
  UdpReceiver(const UdpReceiver&) = delete;
  UdpReceiver& operator=(const UdpReceiver&) = delete;

  // Where the notifications go: the host's main window and the message
  // registered under kUdpNotifyMessageName.
  void SetNotifyWindow(HWND window, UINT message) {
    window_ = window;
    message_ = message;
  }
  UINT notifyMessage() const { return message_; }

  // Opens and binds the socket unless it is open, starting a Winsock session
  // first when none is held. A failure is shown once per load with the
  // sink's error box; the mailslot path goes on alone.
  bool Open();
  // Closes the socket, stops the resume timer and ends the Winsock session.
  void Close();
  bool IsOpen() const { return socket_.valid(); }
  // "open", "closed", or "error N" after a failed Open: for the status text.
  std::string Describe() const;

  // One notification, and one tick of the resume timer. Neither throws:
  // they run inside the host's message loop.
  void OnNotify(LPARAM lParam) noexcept;
  void OnResumeTimer() noexcept;

 private:
  void ReportOpenFailure(int error);
  // Asks for a notification when datagrams wait (one comes at once if some
  // already do). False when Winsock refused.
  bool Listen();
  enum class DrainEnd {
    kEmptied,          // the socket is empty
    kGaveWayToPosted,  // only posted messages wait
    kGaveWayToInput,   // input, an expired timer or a sent message waits
  };
  // Reads until the socket is empty or the host has something waiting.
  DrainEnd Drain();
  void DrainThenWait() noexcept;

  ReceiveSink& sink_;
  ReceiveState& state_;
  TIMERPROC resumeProc_;
  HWND window_ = nullptr;
  UINT message_ = 0;
  bool reportOpenErrors_ = true;
  int lastOpenError_ = 0;  // of the last failed Open, 0 after a good one
  // Whether notifications are on. Those already queued when they were
  // switched off still arrive, and are ignored.
  bool listening_ = false;
  bool draining_ = false;  // a handler may pump messages while we drain
  UniqueThreadTimer resumeTimer_;
  // The session outlives the socket: members are destroyed in reverse.
  std::unique_ptr<WinsockSession> session_;
  UniqueSocket socket_;
};

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_UDP_PATH_WIN_H_
