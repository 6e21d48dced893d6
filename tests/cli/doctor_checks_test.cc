#include "cli/doctor_checks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command_line.h"

namespace zanvor {
namespace {

const char kOurRule[] =
    "v2.30|Action=Allow|Active=TRUE|Dir=In|Protocol=17|LPort=38217|Name=Zanvor|";

bool Admits(const std::string& text) {
  FirewallRule rule;
  return ParseFirewallRule(text, &rule) && RuleAdmitsUdpPort(rule, 38217);
}

TEST(DoctorChecksTest, FirewallRulesThatLetThePortIn) {
  EXPECT_TRUE(Admits(kOurRule));
  EXPECT_TRUE(Admits("v2.10|Action=Allow|Active=TRUE|Dir=In|Protocol=17|LPort=38000-39000|"));
  EXPECT_TRUE(Admits("v2.10|Action=Allow|Active=TRUE|Dir=In|LPort=80|LPort=38217|"));
  EXPECT_TRUE(Admits("v2.10|Action=Allow|Active=TRUE|Dir=In|Protocol=17|"));  // every port
  EXPECT_FALSE(Admits("v2.10|Action=Allow|Active=TRUE|Dir=In|Protocol=6|LPort=38217|"));  // TCP
  EXPECT_FALSE(Admits("v2.10|Action=Allow|Active=FALSE|Dir=In|Protocol=17|LPort=38217|"));
  EXPECT_FALSE(Admits("v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=17|LPort=38217|"));
  EXPECT_FALSE(Admits("v2.10|Action=Allow|Active=TRUE|Dir=Out|Protocol=17|LPort=38217|"));
  EXPECT_FALSE(Admits("v2.10|Action=Allow|Active=TRUE|Dir=In|Protocol=17|LPort=38218-39000|"));
  EXPECT_FALSE(Admits("v2.10|Action=Allow|Active=TRUE|Dir=In|Protocol=17|LPort=RPC|"));
  EXPECT_FALSE(Admits("not a rule"));
}

TEST(DoctorChecksTest, TheFirewallVerdicts) {
  FirewallState state;
  state.settingsFound = true;
  state.profilesOn = {"Domain", "Public"};
  state.ruleTexts = {"v2.10|Action=Allow|Active=TRUE|Dir=In|Protocol=6|LPort=38217|Name=Tcp|"};
  CheckResult result = FirewallCheck(state);
  EXPECT_EQ(result.verdict, Verdict::kFail);
  EXPECT_EQ(result.found,
            "the firewall is on (Domain, Public) and no inbound rule allows UDP port 38217: posts "
            "from other machines are dropped");
  EXPECT_EQ(result.fix,
            "netsh advfirewall firewall add rule name=\"Zanvor\" dir=in action=allow "
            "protocol=UDP localport=38217");

  state.ruleTexts.push_back(kOurRule);
  result = FirewallCheck(state);
  EXPECT_EQ(result.verdict, Verdict::kOk);
  EXPECT_EQ(result.found, "the inbound rule \"Zanvor\" allows UDP port 38217");

  state.ruleTexts.clear();
  state.profilesOn.clear();
  EXPECT_EQ(FirewallCheck(state).verdict, Verdict::kOk);  // off everywhere
  state.settingsFound = false;
  result = FirewallCheck(state);
  EXPECT_EQ(result.verdict, Verdict::kWarn);
  EXPECT_EQ(result.fix, kFirewallFix);
}

// The rule a cancelled "allow this program?" question leaves behind: it
// blocks the program on every port, and wins over our allow rule.
const char kProgramBlocked[] =
    "v2.30|Action=Block|Active=TRUE|Dir=In|Protocol=17|Profile=Public|App=C:\\app\\vfp9.exe|"
    "Name=vfp9.exe|";

TEST(DoctorChecksTest, ABlockRuleForTheActiveProfileWinsOverTheAllowRule) {
  FirewallState state;
  state.settingsFound = true;
  state.profilesOn = {"Domain", "Private", "Public"};
  state.activeKnown = true;
  state.activeProfiles = {"Public"};
  state.ruleTexts = {kOurRule, kProgramBlocked};
  state.receiver = "c:\\APP\\vfp9.exe";  // the server's program, as Windows spells it
  CheckResult result = FirewallCheck(state);
  EXPECT_EQ(result.verdict, Verdict::kFail);
  EXPECT_EQ(result.found,
            "the inbound block rule \"vfp9.exe\" for C:\\app\\vfp9.exe only blocks UDP port 38217 "
            "on the Public profile, and a block rule wins over every allow rule: posts from "
            "other machines are dropped");
  EXPECT_EQ(result.fix, "netsh advfirewall firewall delete rule name=\"vfp9.exe\"");

  // A block rule of any protocol and every port blocks too; one that is
  // disabled, outbound, for TCP or for another port does not.
  state.ruleTexts = {kOurRule, "v2.30|Action=Block|Active=TRUE|Dir=In|Name=All in|"};
  EXPECT_EQ(FirewallCheck(state).verdict, Verdict::kFail);
  state.ruleTexts = {kOurRule,
                     "v2.30|Action=Block|Active=FALSE|Dir=In|Protocol=17|LPort=38217|Name=a|",
                     "v2.30|Action=Block|Active=TRUE|Dir=Out|Protocol=17|LPort=38217|Name=b|",
                     "v2.30|Action=Block|Active=TRUE|Dir=In|Protocol=6|LPort=38217|Name=c|",
                     "v2.30|Action=Block|Active=TRUE|Dir=In|Protocol=17|LPort=38218|Name=d|"};
  EXPECT_EQ(FirewallCheck(state).verdict, Verdict::kOk);

  // A block rule for another program leaves the receiving one alone; with
  // the receiving program unknown it is a warning.
  state.ruleTexts = {kOurRule, kProgramBlocked};
  state.receiver = "C:\\Windows\\zanvor.exe";
  EXPECT_EQ(FirewallCheck(state).verdict, Verdict::kOk);
  state.receiver.clear();
  result = FirewallCheck(state);
  EXPECT_EQ(result.verdict, Verdict::kWarn);
  EXPECT_EQ(result.found,
            "the inbound rule \"Zanvor\" allows UDP port 38217 on the active profile (Public), but "
            "the block rule \"vfp9.exe\" for C:\\app\\vfp9.exe only wins over it for that "
            "program: if it is the one with the server role, posts from other machines are "
            "dropped");
  EXPECT_EQ(result.fix, "netsh advfirewall firewall delete rule name=\"vfp9.exe\"");

  // The same block rule on a profile that is not active does not count.
  state.receiver = "C:\\app\\vfp9.exe";
  state.activeProfiles = {"Private"};
  result = FirewallCheck(state);
  EXPECT_EQ(result.verdict, Verdict::kOk);
  EXPECT_EQ(result.found,
            "the inbound rule \"Zanvor\" allows UDP port 38217 on the active profile (Private)");
}

TEST(DoctorChecksTest, AnAllowRuleCountsOnlyForTheProfilesItIsEnabledFor) {
  FirewallState state;
  state.settingsFound = true;
  state.profilesOn = {"Domain", "Private", "Public"};
  state.activeKnown = true;
  state.activeProfiles = {"Public"};
  state.ruleTexts = {
      "v2.30|Action=Allow|Active=TRUE|Dir=In|Protocol=17|Profile=Domain|Profile=Private|"
      "LPort=38217|Name=Zanvor|"};
  CheckResult result = FirewallCheck(state);
  EXPECT_EQ(result.verdict, Verdict::kFail);
  EXPECT_EQ(result.found,
            "the firewall is on (Public, active) and no inbound rule allows UDP port 38217 on the "
            "Public profile: the rule \"Zanvor\" is enabled for Domain, Private only; posts from "
            "other machines are dropped");
  EXPECT_EQ(result.fix, "netsh advfirewall firewall set rule name=\"Zanvor\" new profile=any");

  state.activeProfiles = {"Private"};
  EXPECT_EQ(FirewallCheck(state).verdict, Verdict::kOk);
  // Two networks at once: each active profile needs the rule.
  state.activeProfiles = {"Private", "Public"};
  EXPECT_EQ(FirewallCheck(state).verdict, Verdict::kFail);
  // Off for the active profile: nothing to judge.
  state.profilesOn = {"Domain", "Private"};
  state.activeProfiles = {"Public"};
  result = FirewallCheck(state);
  EXPECT_EQ(result.verdict, Verdict::kOk);
  EXPECT_EQ(result.found,
            "the firewall is off for the active profile (Public): nothing blocks UDP port 38217");
  // Without the active profiles every profile that is on must let it in.
  state.activeKnown = false;
  state.profilesOn = {"Domain", "Private", "Public"};
  EXPECT_EQ(FirewallCheck(state).verdict, Verdict::kFail);
}

TEST(DoctorChecksTest, TheMailslotPolicyNamesTheValuesThatAreMissing) {
  const MailslotOpenResult off{false, 3025};
  CheckResult result = MailslotPolicyCheck({}, {}, off);
  EXPECT_EQ(result.verdict, Verdict::kWarn);
  EXPECT_EQ(result.found,
            "the domain mailslot: remote mailslots are switched off on this machine (error 3025) "
            "(NetworkProvider\\EnableMailslots not set, Bowser\\EnableMailslots not set); posts "
            "travel over UDP, peers that speak only the mailslot are not reached");
  EXPECT_EQ(result.fix,
            "reg add HKLM\\Software\\Policies\\Microsoft\\Windows\\NetworkProvider /v "
            "EnableMailslots /t REG_DWORD /d 1 /f && reg add "
            "HKLM\\Software\\Policies\\Microsoft\\Windows\\Bowser /v EnableMailslots /t REG_DWORD "
            "/d 1 /f, then restart Windows");
  result = MailslotPolicyCheck({true, 1}, {true, 0}, off);
  EXPECT_EQ(result.fix,
            "reg add HKLM\\Software\\Policies\\Microsoft\\Windows\\Bowser /v EnableMailslots /t "
            "REG_DWORD /d 1 /f, then restart Windows");
  EXPECT_EQ(MailslotPolicyCheck({true, 1}, {true, 1}, off).fix,
            "restart Windows: the policies take effect at the next start");
  EXPECT_EQ(MailslotPolicyCheck({}, {}, {true, 0}).verdict, Verdict::kOk);
  // A system without domain-wide mailslots: no policy helps.
  EXPECT_EQ(MailslotPolicyCheck({}, {}, {false, 3}).fix, "");
}

TEST(DoctorChecksTest, LostPostsPointAtTheirCause) {
  Delivery lost;
  lost.timeoutSeconds = 5;
  ServerFacts server;
  server.window = 0x1002E;
  server.process = 212;
  server.udpSocket = "open";

  CheckResult broadcast = UdpPathCheck(lost, 0x0A4D00FF, "10.77.0.1/24", server);
  EXPECT_EQ(broadcast.check, "network post over UDP to 10.77.0.255:38217 (adapter 10.77.0.1/24)");
  EXPECT_EQ(broadcast.verdict, Verdict::kFail);
  EXPECT_EQ(broadcast.found, "sent, but not received within 5 s");
  EXPECT_EQ(broadcast.fix, kFirewallFix);

  server.udpSocket = "error 10048";
  const CheckResult loopback = UdpPathCheck(lost, 0x7F000001, "", server);
  EXPECT_EQ(loopback.found, "not received: the server instance's UDP socket is error 10048");
  EXPECT_NE(loopback.fix.find("netstat -ano -p udp"), std::string::npos);

  const CheckResult local = LocalPostCheck(lost, server);
  EXPECT_EQ(local.found,
            "no round trip through the server instance (window 0x0001002E, process 212) within "
            "5 s");
  EXPECT_EQ(local.fix,
            "restart the program that holds the server role (process 212): its message loop "
            "does not run");

  Delivery fine;
  fine.delivered = true;
  fine.milliseconds = 11.6;
  EXPECT_EQ(LocalPostCheck(fine, server).found,
            "round trip through the server instance (window 0x0001002E, process 212) in 12 ms");
  const CheckResult mailslot = MailslotPathCheck(fine, {false, 3025});
  EXPECT_EQ(mailslot.verdict, Verdict::kWarn);
  EXPECT_EQ(mailslot.fix, "");

  EXPECT_EQ(DoctorExitCode({mailslot, LocalPostCheck(fine, server)}), kExitSuccess);
  EXPECT_EQ(DoctorExitCode({mailslot, broadcast}), kExitFailure);
  EXPECT_EQ(CheckLines(broadcast),
            (std::vector<std::string>{"fail  network post over UDP to 10.77.0.255:38217 (adapter "
                                      "10.77.0.1/24): sent, but not received within 5 s",
                                      std::string("      fix: ") + kFirewallFix}));
}

}  // namespace
}  // namespace zanvor
