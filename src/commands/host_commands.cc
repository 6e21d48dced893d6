#include "commands/host_commands.h"

#include "commands/arg_checks.h"

namespace zanvor {
namespace {

void RaiseIfSet(HostCall& call, const std::string& error) {
  if (!error.empty()) call.RaiseError(error);
}

}  // namespace

void SubscribeCommand(HostCall& call, InstanceProtocol& protocol, LeadByteTest isLeadByte) {
  const std::string name = call.ParameterText(1);
  const std::string handler = call.ParameterText(2);
  RaiseIfSet(call, CheckSubscribableName(name));
  RaiseIfSet(call, CheckHandler(handler, isLeadByte));
  if (!protocol.Joined()) call.RaiseError(kNotJoinedText);
  protocol.Subscribe(name, handler);
}

// A name with a colon cannot have been subscribed; withdrawing it is as
// harmless as withdrawing any name that is not subscribed.
void UnsubscribeCommand(HostCall& call, InstanceProtocol& protocol) {
  const std::string name = call.ParameterText(1);
  RaiseIfSet(call, CheckSubscriptionName(name));
  protocol.Unsubscribe(name);
}

void ListSubscriptionsCommand(HostCall& call, const InstanceProtocol& protocol) {
  call.ReturnString(protocol.ListSubscriptions());
}

std::string CheckedPostText(HostCall& call) {
  const std::string name = call.ParameterText(1);
  const std::string message = call.ParameterText(2);
  std::string text;
  RaiseIfSet(call, CheckPostText(name, message, &text));
  return text;
}

void PostLocalCommand(HostCall& call, InstanceProtocol& protocol) {
  const std::string text = CheckedPostText(call);
  if (!protocol.Joined()) call.RaiseError(kNotJoinedText);
  if (!protocol.PostLocal(text)) {
    call.RaiseError("Unable to post the message. The message buffer is busy.");
  }
}

}  // namespace zanvor
