// One tick of the server's receive timer: drain up to kDatagramsPerTick
// datagrams from the mailslot, drop duplicates and bad packets, and hand each
// name:message text on. Portable; the Windows timer procedure supplies the
// mailslot and the sink.
#ifndef ZANVOR_MESSAGING_RECEIVE_TICK_H_
#define ZANVOR_MESSAGING_RECEIVE_TICK_H_

#include <cstdint>
#include <string>

#include "messaging/mailslot_read.h"
#include "messaging/recent_id_ring.h"

namespace zanvor {

class ReceiveSink {
 public:
  virtual ~ReceiveSink() = default;
  // A received text split at its first colon. The name may be empty.
  virtual void DispatchReceived(const std::string& name, const std::string& message) = 0;
  virtual void ShowErrorBox(const std::string& text) = 0;
  // The error code of the read that just failed (GetLastError right after it).
  // Called only when that read showed no text of its own, and before any
  // other sink call.
  virtual uint32_t LastError() = 0;
};

// What carries over from one tick to the next, for as long as the library is
// loaded.
struct ReceiveState {
  RecentIdRing recentIds;
  bool reportReadErrors = true;  // read errors are shown once per load
};

constexpr int kDatagramsPerTick = 100;

// Runs one tick. The tick ends at the first empty or failed read, at a
// datagram of a size outside [kMinReceivedDatagram, kMaxReceivedDatagram], at a duplicate
// packet id, or after kDatagramsPerTick datagrams. Datagrams behind the one
// that ended it stay queued for the next tick (the ending one is consumed).
// May throw std::bad_alloc and whatever the sink throws; the timer procedure
// must not let either escape.
void RunReceiveTick(MailslotOps& ops, ReceiveSink& sink, ReceiveState& state);

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_RECEIVE_TICK_H_
