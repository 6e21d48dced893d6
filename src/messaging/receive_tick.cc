#include "messaging/receive_tick.h"

#include <cstdio>
#include <cstring>

#include "contract/network.h"
#include "messaging/packet.h"

namespace zanvor {
namespace {

void ReportReadFailure(ReceiveSink& sink, ReceiveState& state) {
  if (!state.reportReadErrors) return;
  const uint32_t error = sink.LastError();
  state.reportReadErrors = false;
  char text[64];
  std::snprintf(text, sizeof text, "Unable to read data. Error: %d.", static_cast<int>(error));
  sink.ShowErrorBox(text);
}

}  // namespace

bool ReceiveDatagram(uint8_t* datagram, uint32_t size, uint32_t nowMs, ReceiveSink& sink,
                     ReceiveState& state) {
  if (size < static_cast<uint32_t>(kMinReceivedDatagram) ||
      size > static_cast<uint32_t>(kMaxReceivedDatagram)) {
    ++state.counters.bad;
    return false;
  }
  // The plain text is written over the id.
  uint8_t id[kPacketIdSize];
  std::memcpy(id, datagram, kPacketIdSize);
  CMsgUnPack unpacker;
  const int32_t length = static_cast<int32_t>(size) - kPacketIdSize;
  const int32_t n = unpacker.UnPack(datagram + kPacketIdSize, length, datagram);
  // Only a packet whose check byte matches takes a place in the duplicate
  // filter: junk, however much of it comes, pushes no real id out. A good
  // packet always has a text of at least one byte.
  if (n == 0) {
    ++state.counters.bad;
    return false;
  }
  if (state.recentIds.CheckAndRecordId(id, nowMs)) {
    ++state.counters.duplicates;
    return false;
  }
  state.machineIds.Record(id, nowMs);
  datagram[n] = 0;

  int32_t colon = 0;
  while (colon < n && datagram[colon] != ':') ++colon;
  if (colon == n) {
    ++state.counters.bad;
    return false;
  }
  datagram[colon] = 0;
  // A NUL inside the payload ends the name or the message early, as the
  // texts are read as zero-terminated strings.
  const std::string name(reinterpret_cast<const char*>(datagram));
  const std::string message(reinterpret_cast<const char*>(datagram + colon + 1));
  ++state.counters.delivered;
  sink.DispatchReceived(name, message);
  return true;
}

void RunReceiveTick(MailslotOps& ops, uint32_t nowMs, ReceiveSink& sink, ReceiveState& state) {
  const std::function<void(const std::string&)> showError = [&sink](const std::string& text) {
    sink.ShowErrorBox(text);
  };
  uint8_t buffer[kPacketBufferSize];
  for (int datagram = 0; datagram < kDatagramsPerTick; ++datagram) {
    uint32_t size = kPacketBufferSize;
    const MailslotRead read =
        ReadMailslotMessage(ops, buffer, &size, &state.reportReadErrors, showError);
    if (read == MailslotRead::kError) {
      ReportReadFailure(sink, state);
      return;
    }
    if (read == MailslotRead::kEmpty) return;
    ++state.counters.mailslotDatagrams;
    if (read == MailslotRead::kDropped) {
      ++state.counters.bad;
      continue;
    }
    ReceiveDatagram(buffer, size, nowMs, sink, state);
  }
}

}  // namespace zanvor
