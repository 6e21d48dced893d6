// zanvor doctor's verdicts: for each check what was found and the one
// command or setting that fixes it, judged here from what the Windows side
// collected (registry values, firewall rule texts, delivery results), so
// that every verdict is tested natively.
#ifndef ZANVOR_TOOLS_CLI_DOCTOR_CHECKS_H_
#define ZANVOR_TOOLS_CLI_DOCTOR_CHECKS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "cli/status_view.h"
#include "contract/network.h"

namespace zanvor {

inline const std::string kFirewallFix =
    "netsh advfirewall firewall add rule name=\"Zanvor\" dir=in action=allow protocol=UDP "
    "localport=" +
    std::to_string(kUdpPort);
// The two policies "Enable remote mailslots" (Lanman Workstation for
// sending, Lanman Server for receiving) as registry values.
constexpr char kSenderPolicyKey[] = "Software\\Policies\\Microsoft\\Windows\\NetworkProvider";
constexpr char kReceiverPolicyKey[] = "Software\\Policies\\Microsoft\\Windows\\Bowser";
constexpr char kMailslotPolicyValue[] = "EnableMailslots";

// kCutShort: a Ctrl+C ended the run there (printed as "stop").
enum class Verdict { kOk, kWarn, kFail, kCutShort };

struct CheckResult {
  std::string check;  // a short name: "local post", "firewall", ...
  Verdict verdict = Verdict::kOk;
  std::string found;
  std::string fix;  // "" when nothing needs fixing
};

// Plain: "ok    check: found", then "      fix: ..." when there is a fix.
std::vector<std::string> CheckLines(const CheckResult& result);
std::string CheckJson(const CheckResult& result);
// kExitFailure when a check failed; warnings do not fail.
int DoctorExitCode(const std::vector<CheckResult>& results);

// A post that was to arrive at this machine's server instance and come back
// to the doctor's own handler.
struct Delivery {
  bool sent = true;       // false: the path refused the datagram
  std::string sendError;  // why not, when !sent
  bool delivered = false;
  double milliseconds = 0;    // when delivered
  double timeoutSeconds = 0;  // how long it was waited for
};

// Where the server instance stands, for the texts of the delivery checks.
struct ServerFacts {
  bool ownInstance = false;  // no server ran: the doctor's instance took the role
  uint32_t window = 0;
  uint32_t process = 0;
  std::string programPath;  // the server's program file, "" when unknown
  std::string udpSocket;    // the server's report, "" when not reported
};

CheckResult LocalPostCheck(const Delivery& delivery, const ServerFacts& server);
CheckResult MailslotPathCheck(const Delivery& delivery, const MailslotOpenResult& open);
// target: the address the datagram went to; adapter: "a.b.c.d/n" for a
// broadcast target, "" for the loopback address.
CheckResult UdpPathCheck(const Delivery& delivery, uint32_t target, const std::string& adapter,
                         const ServerFacts& server);

// One firewall rule as Windows keeps it in the registry
// ("v2.30|Action=Allow|Active=TRUE|Dir=In|Protocol=17|Profile=Private|LPort=38217|Name=Zanvor|").
struct FirewallRule {
  std::string name;
  std::string app;  // "" for every program
  bool allow = false;
  bool block = false;
  bool active = false;
  bool inbound = false;
  int protocol = -1;                  // -1: any protocol
  std::vector<std::string> ports;     // LPort entries; empty: any port
  std::vector<std::string> profiles;  // "Domain", "Private", "Public"; empty: every profile
};
bool ParseFirewallRule(const std::string& text, FirewallRule* rule);
// Active, inbound, for UDP (or any protocol), for `port`, whatever its action.
bool RuleCoversUdpPort(const FirewallRule& rule, uint16_t port);
// RuleCoversUdpPort, and allowing.
bool RuleAdmitsUdpPort(const FirewallRule& rule, uint16_t port);
// Whether the rule is enabled for `profile` ("Domain", "Private", "Public").
bool RuleAppliesToProfile(const FirewallRule& rule, const std::string& profile);

struct FirewallState {
  bool settingsFound = false;           // any profile's settings were found
  std::vector<std::string> profilesOn;  // "Domain", "Private", "Public"
  // The profiles of the networks the machine is on now; only their rules
  // count. Unknown (the firewall's own answer failed): every profile that is on.
  bool activeKnown = false;
  std::vector<std::string> activeProfiles;
  // The program file that receives (the server instance's), with which a
  // rule for one program ("App=") is compared; "" when unknown, and then
  // such a rule is reported as a warning, not judged.
  std::string receiver;
  std::vector<std::string> ruleTexts;  // every rule, local and by policy
};
// As the Windows firewall decides for an inbound datagram on kUdpPort: an
// enabled block rule for the active profile (and the receiving program, when
// it names one) wins over every allow rule; else an enabled allow rule for
// the active profile lets it in; else it is dropped.
CheckResult FirewallCheck(const FirewallState& state);

// A policy value: absent, or its DWORD.
struct PolicyValue {
  bool present = false;
  uint32_t value = 0;
};
CheckResult MailslotPolicyCheck(const PolicyValue& sender, const PolicyValue& receiver,
                                const MailslotOpenResult& open);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_CLI_DOCTOR_CHECKS_H_
