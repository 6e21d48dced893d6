// One tick of the server's receive timer: drain up to kDatagramsPerTick
// datagrams from the mailslot, drop duplicates and bad packets, and hand each
// name:message text on. Portable; the Windows timer procedure supplies the
// mailslot and the sink.
#ifndef ZANVOR_MESSAGING_RECEIVE_TICK_H_
#define ZANVOR_MESSAGING_RECEIVE_TICK_H_

#include <cstdint>
#include <string>

#include "messaging/mailslot_read.h"
#include "messaging/receive_counters.h"
#include "messaging/recent_id_ring.h"
#include "messaging/shared_recent_ids.h"

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
  // Attached while this instance holds its machine's server role: every id
  // recentIds takes in is recorded there too, for the next server.
  SharedRecentIds machineIds;
  bool reportReadErrors = true;  // read errors are shown once per load
  ReceiveCounters counters;
};

constexpr int kDatagramsPerTick = 100;

// One datagram as received, on any path, at nowMs (a monotonic millisecond
// count, see RecentIdRing): a size outside [kMinReceivedDatagram,
// kMaxReceivedDatagram] is dropped unread; otherwise the packet is unpacked
// over `datagram` and dropped unless its check byte matches; then its id is
// checked and recorded in the duplicate filter (and in state.machineIds when
// attached), a duplicate is dropped, and
// the text is split at the first colon; a text without a colon is dropped.
// Returns true when the text went to the sink.
// REQUIRES: datagram holds at least `size` bytes and size <= kPacketBufferSize.
bool ReceiveDatagram(uint8_t* datagram, uint32_t size, uint32_t nowMs, ReceiveSink& sink,
                     ReceiveState& state);

// Runs one tick at nowMs: up to kDatagramsPerTick datagrams, each through
// ReceiveDatagram. A dropped datagram does not end the tick (a copy that
// came over another path, or junk sent to the machine, must not hold the
// server to one datagram per tick); only an empty mailslot, a failed read or
// the kDatagramsPerTick-th datagram does.
// May throw std::bad_alloc and whatever the sink throws; the timer procedure
// must not let either escape.
void RunReceiveTick(MailslotOps& ops, uint32_t nowMs, ReceiveSink& sink, ReceiveState& state);

}  // namespace zanvor

#endif  // ZANVOR_MESSAGING_RECEIVE_TICK_H_
