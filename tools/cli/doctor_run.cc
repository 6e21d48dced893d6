#include "cli/doctor_run.h"

#include "cli/command_line.h"
#include "contract/network.h"

namespace zanvor {
namespace {

class Run {
 public:
  Run(DoctorMachine& machine, bool json, ToolOutput& out)
      : machine_(machine), json_(json), out_(out) {}

  int Checks() {
    const MailslotOpenResult open = machine_.OpenDomainMailslot();
    std::string error;
    if (!Continue("")) return End();
    if (!machine_.StartInstance(&error)) {
      Report({"library", Verdict::kFail, "cannot run an instance: " + error,
              "put zanvor.fll beside zanvor.exe, or give its path with --library FILE"});
    } else {
      const bool all = DeliveryChecks(open);
      machine_.StopInstance();
      if (!all) return End();
    }
    if (!Continue("")) return End();
    FirewallState firewall = machine_.ReadFirewall();
    // The doctor's own instance holds the role only for the run: the
    // program that receives later is not known then.
    if (!server_.ownInstance) firewall.receiver = server_.programPath;
    Report(FirewallCheck(firewall));
    Report(MailslotPolicyCheck(machine_.ReadPolicy(kSenderPolicyKey),
                               machine_.ReadPolicy(kReceiverPolicyKey), open));
    return End();
  }

 private:
  // False when the run was cut short.
  bool DeliveryChecks(const MailslotOpenResult& open) {
    server_ = machine_.FindServer();
    const ServerFacts& server = server_;
    if (!Continue("search for the server instance")) return false;
    Delivery delivery = machine_.PostLocal();
    if (!Delivered(delivery, "local post")) return false;
    Report(LocalPostCheck(delivery, server));
    if (open.open) {
      delivery = machine_.SendOverMailslot();
      if (!Delivered(delivery, "network post over the domain mailslot")) return false;
    } else {
      delivery = Delivery();
    }
    Report(MailslotPathCheck(delivery, open));
    const std::vector<AdapterAddress> adapters = machine_.Adapters();
    for (const uint32_t target : BroadcastTargets(adapters)) {
      delivery = machine_.SendOverUdp(target);
      const CheckResult result =
          UdpPathCheck(delivery, target, AdapterOf(target, adapters), server);
      if (!Delivered(delivery, result.check)) return false;
      Report(result);
    }
    return Continue("");
  }

  // A delivery that did not come while a Ctrl+C ended its wait says nothing
  // about the path: the run ends there.
  bool Delivered(const Delivery& delivery, const std::string& check) {
    if (delivery.delivered || !delivery.sent) return true;
    return Continue(check);
  }

  bool Continue(const std::string& during) {
    if (cutShort_ || !machine_.Interrupted()) return !cutShort_;
    cutShort_ = true;
    Report(CutShortResult(during));
    return false;
  }

  int End() {
    if (cutShort_) return kExitFailure;
    return DoctorExitCode(results_);
  }

  void Report(const CheckResult& result) {
    results_.push_back(result);
    if (json_) {
      out_.Out(CheckJson(result));
    } else {
      for (const std::string& line : CheckLines(result)) out_.Out(line);
    }
  }

  static std::string AdapterOf(uint32_t target, const std::vector<AdapterAddress>& adapters) {
    for (const AdapterAddress& adapter : adapters) {
      if (SubnetBroadcast(adapter.address, adapter.prefixLength) == target) {
        return Ipv4Text(adapter.address) + "/" + std::to_string(adapter.prefixLength);
      }
    }
    return std::string();
  }

  DoctorMachine& machine_;
  const bool json_;
  ToolOutput& out_;
  std::vector<CheckResult> results_;
  ServerFacts server_;
  bool cutShort_ = false;
};

}  // namespace

CheckResult CutShortResult(const std::string& during) {
  CheckResult result{"run", Verdict::kCutShort, "", ""};
  result.found = "cut short by Ctrl+C" +
                 (during.empty() ? std::string() : " during the " + during) +
                 "; the checks after it did not run, run zanvor doctor again to see them";
  return result;
}

int RunDoctorChecks(DoctorMachine& machine, bool json, ToolOutput& out) {
  return Run(machine, json, out).Checks();
}

}  // namespace zanvor
