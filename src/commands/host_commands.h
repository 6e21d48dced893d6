// The host-callable functions that need nothing of Windows beyond the host
// call itself: their argument checks and their work on the instance
// protocol. Each raises its user error through the HostCall, which ends it.
#ifndef ZANVOR_COMMANDS_HOST_COMMANDS_H_
#define ZANVOR_COMMANDS_HOST_COMMANDS_H_

#include <string>

#include "commands/instance_protocol.h"
#include "host/host_call.h"

namespace zanvor {

// SUBSCRIBE and ZANVOR_LOCAL in an instance that has not joined the machine
// (no main window, or ZANVOR_INIT stopped halfway): nobody could deliver to
// it or for it. Raised after the argument checks.
constexpr char kNotJoinedText[] = "Unable to join the other programs on this machine.";

// SUBSCRIBE(name, handler), UNSUBSCRIBE(name), LIST_SUBSCR().
void SubscribeCommand(HostCall& call, InstanceProtocol& protocol, LeadByteTest isLeadByte);
void UnsubscribeCommand(HostCall& call, InstanceProtocol& protocol);
void ListSubscriptionsCommand(HostCall& call, const InstanceProtocol& protocol);

// Terminates name and message (in that order), checks them as ZANVOR and
// ZANVOR_LOCAL do and returns the name:message text.
std::string CheckedPostText(HostCall& call);

// ZANVOR_LOCAL(name, message). A text that could not be stored raises "Unable
// to post the message. The message buffer is busy.". ZANVOR needs no join:
// its datagram reaches the machine's server like any other.
void PostLocalCommand(HostCall& call, InstanceProtocol& protocol);

}  // namespace zanvor

#endif  // ZANVOR_COMMANDS_HOST_COMMANDS_H_
