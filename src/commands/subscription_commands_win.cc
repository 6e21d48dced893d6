// SUBSCRIBE, UNSUBSCRIBE and LIST_SUBSCR.
#include <string>

#include "commands/arg_checks.h"
#include "commands/instance_env_win.h"
#include "commands/library_functions_win.h"
#include "host/host_services_win.h"

namespace zanvor {
namespace {

void CheckName(const std::string& name) {
  const std::string error = CheckSubscriptionName(name);
  if (!error.empty()) RaiseErrorText(error);
}

}  // namespace

void __fastcall SUBSCRIBE(void* parameters) {
  const std::string name = ReadParameterText(parameters, 1);
  const std::string handler = ReadParameterText(parameters, 2);
  CheckName(name);
  const std::string error = CheckHandler(handler, IsLeadByte);
  if (!error.empty()) RaiseErrorText(error);
  Protocol().Subscribe(name, handler);
}

void __fastcall UNSUBSCRIBE(void* parameters) {
  const std::string name = ReadParameterText(parameters, 1);
  CheckName(name);
  Protocol().Unsubscribe(name);
}

void __fastcall LIST_SUBSCR(void* /*parameters*/) { ReturnString(Protocol().ListSubscriptions()); }

}  // namespace zanvor
