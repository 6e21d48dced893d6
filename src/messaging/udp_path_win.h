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

// The IPv4 unicast addresses of the adapters that are up and are not
// loopback adapters (empty when they cannot be listed).
std::vector<AdapterAddress> UpAdapterAddresses();

// Sends `packet` once to kUdpPort of every BroadcastTargets address, through
// a socket opened and closed within the call. True when at least one target
// took the datagram. (A failure raises the mailslot path's error, so the
// Winsock one is not kept.)
bool SendOverUdp(const uint8_t* packet, uint32_t size);

constexpr int kUdpReceiveBufferBytes = 1 << 20;  // a burst of several hundred datagrams

// The server instance's UDP socket, bound to kUdpPort on every IPv4 address
// with SO_REUSEADDR (several server instances of one machine, one per
// terminal-server session, each receive every broadcast). Winsock posts the
// notification message to the host's main window when datagrams wait; each
// notification reads at most kDatagramsPerTick of them. Datagrams go through
// the same steps as the mailslot's, into the same duplicate filter.
class UdpReceiver {
 public:
  // REQUIRES: sink and state outlive the receiver.
  UdpReceiver(ReceiveSink& sink, ReceiveState& state) : sink_(sink), state_(state) {}
  UdpReceiver(const UdpReceiver&) = delete;
  UdpReceiver& operator=(const UdpReceiver&) = delete;

  // Where the notifications go: the host's main window and the message
  // registered under kUdpNotifyMessageName.
  void SetNotifyWindow(HWND window, UINT message) {
    window_ = window;
    message_ = message;
  }
  UINT notifyMessage() const { return message_; }

  // Opens and binds the socket unless it is open. A failure is shown once
  // per load with the sink's error box; the mailslot path goes on alone.
  bool Open();
  void Close();
  bool IsOpen() const { return socket_.valid(); }
  // "open", "closed", or "error N" after a failed Open: for the status text.
  std::string Describe() const;

  // One notification. Never throws: it runs inside the host's message loop.
  void OnNotify(LPARAM lParam) noexcept;

 private:
  void ReportOpenFailure(int error);

  ReceiveSink& sink_;
  ReceiveState& state_;
  HWND window_ = nullptr;
  UINT message_ = 0;
  bool reportOpenErrors_ = true;
  int lastOpenError_ = 0;  // of the last failed Open, 0 after a good one
  // The session outlives the socket: members are destroyed in reverse.
  std::unique_ptr<WinsockSession> session_;
  UniqueSocket socket_;
};

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_UDP_PATH_WIN_H_
