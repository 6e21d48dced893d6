// ZANVOR: post a message under a subscription name to every machine.
#include <windows.h>

#include <cstdio>
#include <string>

#include "commands/arg_checks.h"
#include "commands/host_commands.h"
#include "commands/instance_env_win.h"
#include "commands/library_functions_win.h"
#include "contract/network.h"
#include "messaging/mailslot_sender_win.h"
#include "messaging/packet.h"
#include "messaging/udp_path_win.h"

namespace zanvor {
namespace {

void RaiseSendError(HostCall& call, DWORD error) {
  char text[64];
  snprintf(text, sizeof text, "%s\nError: %d\n", kSendErrorText, static_cast<int>(error));
  call.RaiseError(text);
}

}  // namespace

// The packet goes out once on each path: the domain mailslot, which older
// peers and machines with remote mailslots switched on receive, and UDP,
// which works where remote mailslots are switched off (kRemoteMailslotsOffError). The post
// succeeds when either path sent it; only when neither did, the mailslot's
// error is raised, as it always was.
void PostToNetwork(HostCall& call, PacketIdSource& packetIds, UdpSender& udp) {
  const std::string text = CheckedPostText(call);
  uint8_t packet[kPacketBufferSize];
  uint8_t id[kPacketIdSize];
  const uint32_t ticks = GetTickCount();
  packetIds.MakePacketId(ticks, id);
  CMsgPack packer;
  const uint32_t size = static_cast<uint32_t>(
      packer.Pack(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()),
                  packet, sizeof packet, id, ticks));
  // The checks keep every text within the buffer; should one ever pass them
  // that does not fit, the post fails as too long rather than going out cut.
  if (size == 0) call.RaiseError(MessageTooLongText());  // ends the call

  DWORD mailslotError = 0;
  bool mailslotSent = false;
  {
    CMailslotSender sender;
    sender.SetTarget(kNetworkMailslotName);
    if (!sender.Open()) {
      mailslotError = GetLastError();
    } else if (!sender.Write(packet, &size)) {
      mailslotError = GetLastError();
    } else {
      mailslotSent = true;
    }
  }
  const bool udpSent = udp.Send(packet, size);
  if (!mailslotSent && !udpSent) RaiseSendError(call, mailslotError);  // ends the call
}

}  // namespace zanvor
