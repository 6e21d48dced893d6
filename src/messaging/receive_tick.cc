#include "messaging/receive_tick.h"

#include <cstdio>

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

void RunReceiveTick(MailslotOps& ops, ReceiveSink& sink, ReceiveState& state) {
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
    if (read == MailslotRead::kDropped) continue;
    if (size < static_cast<uint32_t>(kMinReceivedDatagram) || size > static_cast<uint32_t>(kMaxReceivedDatagram)) {
      return;  // also the empty mailslot, size 0
    }
    // Every datagram of a plausible size is remembered, good packet or not,
    // so a repeated bad datagram also ends the tick.
    if (state.recentIds.CheckAndRecordId(buffer)) return;

    CMsgUnPack unpacker;
    const int32_t length = static_cast<int32_t>(size) - kPacketIdSize;
    const int32_t n = unpacker.UnPack(buffer + kPacketIdSize, length, buffer);
    buffer[n] = 0;

    int32_t colon = 0;
    while (colon < n && buffer[colon] != ':') ++colon;
    if (colon == n) continue;
    buffer[colon] = 0;
    // A NUL inside the payload ends the name or the message early, as the
    // texts are read as zero-terminated strings.
    const std::string name(reinterpret_cast<const char*>(buffer));
    const std::string message(reinterpret_cast<const char*>(buffer + colon + 1));
    sink.DispatchReceived(name, message);
  }
}

}  // namespace zanvor
