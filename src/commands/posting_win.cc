// ZANVOR: post a message under a subscription name to every machine.
#include <windows.h>

#include <cstdio>
#include <string>

#include "commands/host_commands.h"
#include "commands/instance_env_win.h"
#include "commands/library_functions_win.h"
#include "messaging/mailslot_sender_win.h"
#include "messaging/packet.h"

namespace zanvor {
namespace {

[[noreturn]] void RaiseSendError(HostCall& call, DWORD error) {
  char text[64];
  snprintf(text, sizeof text, "Unable to send the message.\nError: %d\n", static_cast<int>(error));
  call.RaiseError(text);
}

}  // namespace

void PostToNetwork(HostCall& call, PacketIdSource& packetIds) {
  const std::string text = CheckedPostText(call, IsLeadByte);
  CMailslotSender sender;
  sender.SetTarget(kNetworkMailslotName);
  if (!sender.Open()) RaiseSendError(call, GetLastError());
  uint8_t packet[kPacketBufferSize];
  uint8_t id[kPacketIdSize];
  const uint32_t ticks = GetTickCount();
  packetIds.MakePacketId(ticks, id);
  CMsgPack packer;
  const uint32_t size = static_cast<uint32_t>(
      packer.Pack(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()),
                  packet, id, ticks));
  if (!sender.Write(packet, &size)) RaiseSendError(call, GetLastError());
}

}  // namespace zanvor
