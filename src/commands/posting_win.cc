// ZANVOR and ZANVOR_LOCAL: post a message under a subscription name to every
// machine, or to this machine only.
#include <windows.h>

#include <cstdio>
#include <string>

#include "commands/arg_checks.h"
#include "commands/instance_env_win.h"
#include "commands/library_functions_win.h"
#include "host/host_services_win.h"
#include "messaging/mailslot_sender_win.h"
#include "messaging/packet.h"
#include "messaging/packet_id_win.h"

namespace zanvor {
namespace {

// Terminates both parameters and runs the checks the two commands share;
// returns the name:message text.
std::string CheckedPostText(void* parameters) {
  const std::string name = ReadParameterText(parameters, 1);
  const std::string message = ReadParameterText(parameters, 2);
  std::string text;
  const std::string error = CheckPostText(name, message, &text, IsLeadByte);
  if (!error.empty()) RaiseErrorText(error);
  return text;
}

[[noreturn]] void RaiseSendError(DWORD error) {
  char text[64];
  snprintf(text, sizeof text, "Unable to send the message.\nError: %d\n", static_cast<int>(error));
  RaiseErrorText(text);
}

}  // namespace

void __fastcall ZANVOR(void* parameters) {
  const std::string text = CheckedPostText(parameters);
  CMailslotSender sender;
  sender.SetTarget(kNetworkMailslotName);
  if (!sender.Open()) RaiseSendError(GetLastError());
  uint8_t packet[kPacketBufferSize];
  uint8_t id[kPacketIdSize];
  const uint32_t ticks = GetTickCount();
  MakePacketId(ticks, id);
  CMsgPack packer;
  const uint32_t size = static_cast<uint32_t>(
      packer.Pack(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()),
                  packet, id, ticks));
  if (!sender.Write(packet, &size)) RaiseSendError(GetLastError());
}

void __fastcall ZANVOR_LOCAL(void* parameters) {
  const std::string text = CheckedPostText(parameters);
  Protocol().PostLocal(text);
}

}  // namespace zanvor
