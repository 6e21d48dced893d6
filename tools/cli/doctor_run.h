// The order of zanvor doctor's checks, on either side of a seam: the
// machine's side (the tool's own instance, the two network paths, the
// registry) is Windows', the order, the output and the end of a run that
// Ctrl+C cut short are portable and tested against a fake machine.
#ifndef ZANVOR_TOOLS_CLI_DOCTOR_RUN_H_
#define ZANVOR_TOOLS_CLI_DOCTOR_RUN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "cli/doctor_checks.h"
#include "cli/status_view.h"
#include "cli/text_output.h"
#include "messaging/broadcast_targets.h"

namespace zanvor {

class DoctorMachine {
 public:
  virtual ~DoctorMachine() = default;
  // The domain mailslot opened for writing, as ZANVOR opens it.
  virtual MailslotOpenResult OpenDomainMailslot() = 0;
  // Loads the doctor's instance and subscribes its name; *error when not.
  virtual bool StartInstance(std::string* error) = 0;
  virtual ServerFacts FindServer() = 0;
  // Each sends one post that is to come back to the doctor's handler, and
  // waits for it; a wait that a Ctrl+C ended is not delivered.
  virtual Delivery PostLocal() = 0;
  virtual Delivery SendOverMailslot() = 0;
  virtual std::vector<AdapterAddress> Adapters() = 0;
  virtual Delivery SendOverUdp(uint32_t target) = 0;
  // Withdraws the name and unloads the instance.
  virtual void StopInstance() = 0;
  virtual FirewallState ReadFirewall() = 0;
  virtual PolicyValue ReadPolicy(const char* key) = 0;
  // A Ctrl+C (or closing the console) came.
  virtual bool Interrupted() = 0;
};

// The result a run that a Ctrl+C cut short ends with, in place of the check
// that was under way (`during`, "" between checks): no verdict and no fix
// are made from a wait that did not run its course.
CheckResult CutShortResult(const std::string& during);

// Runs every check in order, printing each result as it comes (plain lines,
// or one JSON object each); returns the exit code: kExitFailure when a
// check failed or a Ctrl+C cut the run short (the checks after it did not
// run), else kExitSuccess.
int RunDoctorChecks(DoctorMachine& machine, bool json, ToolOutput& out);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_CLI_DOCTOR_RUN_H_
