// The UDP path as the native build speaks it: the library's own datagram
// codec on the way out, and on the way in the steps a server instance takes
// (size window, duplicate filter, check byte, first colon) before the
// listener's names are looked at.
#ifndef ZANVOR_TOOLS_CLI_UDP_DATAGRAMS_H_
#define ZANVOR_TOOLS_CLI_UDP_DATAGRAMS_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "cli/listen_session.h"
#include "messaging/packet.h"
#include "messaging/receive_tick.h"

namespace zanvor {

// The datagram of one post of `message` under `name`, after the checks
// ZANVOR makes (the same texts). False with the check's text otherwise.
bool MakePostDatagram(const std::string& name, const std::string& message,
                      const uint8_t id[kPacketIdSize], uint32_t ticks,
                      std::vector<uint8_t>* datagram, std::string* error);

// Hands each datagram that carries a post under one of the session's names
// to the session, each packet id once.
class DatagramListener final : private ReceiveSink {
 public:
  using Clock = std::function<int64_t()>;  // milliseconds since 1970, UTC

  // REQUIRES: session outlives the listener.
  DatagramListener(ListenSession& session, Clock clock)
      : session_(session), clock_(std::move(clock)) {}
  DatagramListener(const DatagramListener&) = delete;
  DatagramListener& operator=(const DatagramListener&) = delete;

  // REQUIRES: datagram holds size <= kPacketBufferSize bytes; it is
  // unpacked in place.
  void OnDatagram(uint8_t* datagram, uint32_t size) {
    // The duplicate filter's time is monotonic, unlike the arrival clock.
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    ReceiveDatagram(datagram, size, static_cast<uint32_t>(ms), *this, state_);
  }

 private:
  void DispatchReceived(const std::string& name, const std::string& message) override;
  // Only the mailslot's reads fail and show boxes; UDP datagrams never do.
  void ShowErrorBox(const std::string&) override {}
  uint32_t LastError() override { return 0; }

  ListenSession& session_;
  Clock clock_;
  ReceiveState state_;
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_CLI_UDP_DATAGRAMS_H_
