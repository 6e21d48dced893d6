#include "cli/doctor_checks.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "cli/command_line.h"
#include "cli/text_output.h"
#include "common/text.h"
#include "contract/network.h"
#include "messaging/broadcast_targets.h"

namespace zanvor {
namespace {

constexpr int kUdpProtocol = 17;

const char* VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kOk:
      return "ok";
    case Verdict::kWarn:
      return "warn";
    case Verdict::kFail:
      return "fail";
    case Verdict::kCutShort:
      return "stop";
  }
  return "fail";
}

std::string Milliseconds(double ms) {
  return std::to_string(static_cast<int64_t>(ms + 0.5)) + " ms";
}

std::string Seconds(double s) { return FormatNumber(s) + " s"; }

std::string ServerText(const ServerFacts& server) {
  std::string text = "the server instance (window " + WindowText(server.window);
  if (server.process != 0) text += ", process " + std::to_string(server.process);
  return text + ")";
}

// "Bowser\EnableMailslots=1": the key's last part names the policy well enough.
std::string PolicyText(const char* key, const PolicyValue& value) {
  const std::string path = key;
  return path.substr(path.rfind('\\') + 1) + "\\" + kMailslotPolicyValue +
         (value.present ? "=" + std::to_string(value.value) : " not set");
}

std::string PolicyCommand(const char* key) {
  return std::string("reg add HKLM\\") + key + " /v " + kMailslotPolicyValue +
         " /t REG_DWORD /d 1 /f";
}

// What a network post's check says when the send failed (found:
// `sendFailed` and the error) or the post came back: true. Otherwise the
// check has failed and its caller says why the post was not received.
bool Judged(const Delivery& delivery, const char* sendFailed, CheckResult* result) {
  if (!delivery.sent) {
    result->verdict = Verdict::kFail;
    result->found = sendFailed + delivery.sendError;
    return true;
  }
  if (delivery.delivered) {
    result->found = "delivered in " + Milliseconds(delivery.milliseconds);
    return true;
  }
  result->verdict = Verdict::kFail;
  return false;
}

bool IsOn(const PolicyValue& value) { return value.present && value.value != 0; }

std::string ListText(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

// "\"Zanvor\"", with the one program it is limited to.
std::string RuleText(const FirewallRule& rule) {
  return "\"" + rule.name + "\"" +
         (rule.app.empty() ? std::string() : " for " + rule.app + " only");
}

std::string DeleteRuleFix(const FirewallRule& rule) {
  if (rule.name.empty()) {
    return "delete the block rule (Windows Defender Firewall with Advanced Security > Inbound "
           "Rules)";
  }
  return "netsh advfirewall firewall delete rule name=\"" + rule.name + "\"";
}

// "LPort" entries are single ports, "a-b" ranges or keywords (RPC, Ply2Disc,
// ...), which never name a plain UDP port.
bool PortMatches(const std::string& entry, uint16_t port) {
  if (entry == "*") return true;
  char* end = nullptr;
  const unsigned long low = std::strtoul(entry.c_str(), &end, 10);
  if (end == entry.c_str()) return false;
  if (*end == 0) return low == port;
  if (*end != '-') return false;
  const char* highText = end + 1;
  const unsigned long high = std::strtoul(highText, &end, 10);
  return end != highText && *end == 0 && low <= port && port <= high;
}

}  // namespace

std::vector<std::string> CheckLines(const CheckResult& result) {
  std::string head = VerdictText(result.verdict);
  head.resize(6, ' ');
  std::vector<std::string> lines = {head + result.check + ": " + result.found};
  if (!result.fix.empty()) lines.push_back("      fix: " + result.fix);
  return lines;
}

std::string CheckJson(const CheckResult& result) {
  return JsonObject()
      .Add("check", result.check)
      .Add("result", VerdictText(result.verdict))
      .Add("found", result.found)
      .Add("fix", result.fix)
      .Text();
}

int DoctorExitCode(const std::vector<CheckResult>& results) {
  for (const CheckResult& result : results) {
    if (result.verdict == Verdict::kFail) return kExitFailure;
  }
  return kExitSuccess;
}

CheckResult LocalPostCheck(const Delivery& delivery, const ServerFacts& server) {
  CheckResult result{"local post", Verdict::kOk, "", ""};
  const std::string through = server.ownInstance
                                  ? "the doctor's own instance, which took the server role (no "
                                    "other program has zanvor.fll loaded)"
                                  : ServerText(server);
  if (!delivery.sent) {
    result.verdict = Verdict::kFail;
    result.found = "ZANVOR_LOCAL failed: " + delivery.sendError;
    return result;
  }
  if (delivery.delivered) {
    result.found = "round trip through " + through + " in " + Milliseconds(delivery.milliseconds);
    return result;
  }
  result.verdict = Verdict::kFail;
  result.found = "no round trip through " + through + " within " + Seconds(delivery.timeoutSeconds);
  if (!server.ownInstance) {
    result.fix = "restart the program that holds the server role" +
                 (server.process != 0 ? " (process " + std::to_string(server.process) + ")"
                                      : std::string()) +
                 ": its message loop does not run";
  }
  return result;
}

CheckResult MailslotPathCheck(const Delivery& delivery, const MailslotOpenResult& open) {
  CheckResult result{"network post over the domain mailslot", Verdict::kOk, "", ""};
  if (!open.open) {
    result.verdict = Verdict::kWarn;
    result.found = "not sent: " + DescribeDomainMailslot(open) +
                   "; posts travel over UDP alone (see the remote-mailslot policy)";
    return result;
  }
  if (Judged(delivery, "the write failed: ", &result)) return result;
  result.found = "sent, but not received within " + Seconds(delivery.timeoutSeconds);
  result.fix = PolicyCommand(kReceiverPolicyKey) + ", then restart Windows";
  return result;
}

CheckResult UdpPathCheck(const Delivery& delivery, uint32_t target, const std::string& adapter,
                         const ServerFacts& server) {
  const std::string to = Ipv4Text(target) + ":" + std::to_string(kUdpPort);
  CheckResult result{"network post over UDP to " + to, Verdict::kOk, "", ""};
  if (!adapter.empty()) result.check += " (adapter " + adapter + ")";
  if (Judged(delivery, "not sent: ", &result)) return result;
  if (!server.udpSocket.empty() && server.udpSocket != "open") {
    result.found = "not received: the server instance's UDP socket is " + server.udpSocket;
    result.fix =
        "netstat -ano -p udp | findstr :" + std::to_string(kUdpPort) +
        " shows the program that holds the port; end it, then restart the program with the "
        "server role";
    return result;
  }
  result.found = "sent, but not received within " + Seconds(delivery.timeoutSeconds);
  result.fix = kFirewallFix;
  return result;
}

bool ParseFirewallRule(const std::string& text, FirewallRule* rule) {
  *rule = FirewallRule();
  size_t start = 0;
  bool first = true;
  bool sawAction = false;
  while (start <= text.size()) {
    size_t end = text.find('|', start);
    if (end == std::string::npos) end = text.size();
    const std::string field = text.substr(start, end - start);
    start = end + 1;
    if (first) {
      first = false;
      if (field.empty() || field[0] != 'v') return false;  // the format's version
      continue;
    }
    const size_t equals = field.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = field.substr(0, equals);
    const std::string value = field.substr(equals + 1);
    if (key == "Action") {
      rule->allow = value == "Allow";
      rule->block = value == "Block";
      sawAction = true;
    } else if (key == "Active") {
      rule->active = value == "TRUE";
    } else if (key == "Dir") {
      rule->inbound = value == "In";
    } else if (key == "Protocol") {
      rule->protocol = std::atoi(value.c_str());
    } else if (key == "LPort") {
      rule->ports.push_back(value);
    } else if (key == "Name") {
      rule->name = value;
    } else if (key == "App") {
      rule->app = value;
    } else if (key == "Profile") {
      rule->profiles.push_back(value);
    }
  }
  return sawAction;
}

bool RuleCoversUdpPort(const FirewallRule& rule, uint16_t port) {
  if (!rule.active || !rule.inbound) return false;
  if (rule.protocol != -1 && rule.protocol != kUdpProtocol) return false;
  if (rule.ports.empty()) return true;
  for (const std::string& entry : rule.ports) {
    if (PortMatches(entry, port)) return true;
  }
  return false;
}

bool RuleAdmitsUdpPort(const FirewallRule& rule, uint16_t port) {
  return rule.allow && RuleCoversUdpPort(rule, port);
}

bool SameProgram(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool RuleAppliesToProfile(const FirewallRule& rule, const std::string& profile) {
  return rule.profiles.empty() ||
         std::find(rule.profiles.begin(), rule.profiles.end(), profile) != rule.profiles.end();
}

CheckResult FirewallCheck(const FirewallState& state) {
  const std::string port = "UDP port " + std::to_string(kUdpPort);
  CheckResult result{"firewall", Verdict::kOk, "", ""};
  if (!state.settingsFound) {
    result.verdict = Verdict::kWarn;
    result.found =
        "no Windows firewall settings were found; a firewall that runs must let " + port + " in";
    result.fix = kFirewallFix;
    return result;
  }
  if (state.profilesOn.empty()) {
    result.found = "the firewall is off on every profile: nothing blocks " + port;
    return result;
  }
  std::vector<std::string> judged;
  for (const std::string& profile : state.profilesOn) {
    if (!state.activeKnown || std::find(state.activeProfiles.begin(), state.activeProfiles.end(),
                                        profile) != state.activeProfiles.end()) {
      judged.push_back(profile);
    }
  }
  if (judged.empty()) {
    result.found = "the firewall is off for the active profile (" + ListText(state.activeProfiles) +
                   "): nothing blocks " + port;
    return result;
  }
  // A rule for one program decides for that program alone: it is judged
  // when the receiving program is known, and a block rule for a program
  // that may receive is only a warning when it is not.
  std::vector<FirewallRule> rules;
  std::vector<FirewallRule> unjudged;
  for (const std::string& text : state.ruleTexts) {
    FirewallRule rule;
    if (!ParseFirewallRule(text, &rule) || !RuleCoversUdpPort(rule, kUdpPort)) continue;
    if (rule.app.empty() || SameProgram(rule.app, state.receiver)) {
      rules.push_back(rule);
    } else if (state.receiver.empty()) {
      (rule.block ? unjudged : rules).push_back(rule);
    }
  }
  // The first block (or allow) rule enabled for `profile`, or null.
  auto ruleFor = [&rules](const std::string& profile, bool block) -> const FirewallRule* {
    for (const FirewallRule& rule : rules) {
      if ((block ? rule.block : rule.allow) && RuleAppliesToProfile(rule, profile)) return &rule;
    }
    return nullptr;
  };
  const std::string profilesText =
      "(" + ListText(judged) + (state.activeKnown ? ", active" : "") + ")";
  for (const std::string& profile : judged) {
    const FirewallRule* blocker = ruleFor(profile, true);
    if (blocker == nullptr) continue;
    result.verdict = Verdict::kFail;
    result.found = "the inbound block rule " + RuleText(*blocker) + " blocks " + port + " on the " +
                   profile + " profile, and a block rule wins over every allow rule: posts " +
                   "from other machines are dropped";
    result.fix = DeleteRuleFix(*blocker);
    return result;
  }
  std::vector<std::string> uncovered;
  const FirewallRule* allower = nullptr;
  for (const std::string& profile : judged) {
    const FirewallRule* rule = ruleFor(profile, false);
    if (rule == nullptr) {
      uncovered.push_back(profile);
    } else if (allower == nullptr) {
      allower = rule;
    }
  }
  if (uncovered.empty()) {
    result.found = "the inbound rule " + RuleText(*allower) + " allows " + port;
    if (state.activeKnown) result.found += " on the active profile (" + ListText(judged) + ")";
    for (const FirewallRule& blocker : unjudged) {
      if (std::none_of(judged.begin(), judged.end(), [&blocker](const std::string& profile) {
            return RuleAppliesToProfile(blocker, profile);
          })) {
        continue;
      }
      result.verdict = Verdict::kWarn;
      result.found += ", but the block rule " + RuleText(blocker) +
                      " wins over it for that program: if it is the one with the server role, "
                      "posts from other machines are dropped";
      result.fix = DeleteRuleFix(blocker);
      break;
    }
    return result;
  }
  result.verdict = Verdict::kFail;
  // An allow rule that is there, but for other profiles than the active ones.
  const FirewallRule* elsewhere = nullptr;
  for (const FirewallRule& rule : rules) {
    if (rule.allow && elsewhere == nullptr) elsewhere = &rule;
  }
  if (elsewhere == nullptr) {
    result.found = "the firewall is on " + profilesText + " and no inbound rule allows " + port +
                   ": posts from other machines are dropped";
    result.fix = kFirewallFix;
    return result;
  }
  result.found = "the firewall is on " + profilesText + " and no inbound rule allows " + port +
                 " on the " + ListText(uncovered) + " profile: the rule " + RuleText(*elsewhere) +
                 " is enabled for " + ListText(elsewhere->profiles) +
                 " only; posts from other machines are dropped";
  result.fix = elsewhere->name.empty() ? kFirewallFix
                                       : "netsh advfirewall firewall set rule name=\"" +
                                             elsewhere->name + "\" new profile=any";
  return result;
}

CheckResult MailslotPolicyCheck(const PolicyValue& sender, const PolicyValue& receiver,
                                const MailslotOpenResult& open) {
  CheckResult result{"remote-mailslot policy", Verdict::kOk, "", ""};
  const std::string values =
      PolicyText(kSenderPolicyKey, sender) + ", " + PolicyText(kReceiverPolicyKey, receiver);
  if (open.open) {
    result.found = "the domain mailslot opens (" + values + ")";
    return result;
  }
  result.verdict = Verdict::kWarn;
  result.found = "the domain mailslot: " + DescribeDomainMailslot(open) + " (" + values + ")";
  if (open.error != kRemoteMailslotsOffError) {
    result.found += "; no policy changes that, posts travel over UDP";
    return result;
  }
  result.found += "; posts travel over UDP, peers that speak only the mailslot are not reached";
  if (IsOn(sender) && IsOn(receiver)) {
    result.fix = "restart Windows: the policies take effect at the next start";
    return result;
  }
  std::string command;
  if (!IsOn(sender)) command = PolicyCommand(kSenderPolicyKey);
  if (!IsOn(receiver))
    command += (command.empty() ? "" : " && ") + PolicyCommand(kReceiverPolicyKey);
  result.fix = command + ", then restart Windows";
  return result;
}

}  // namespace zanvor
