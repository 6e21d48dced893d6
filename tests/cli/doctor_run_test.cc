// zanvor doctor's run against a fake machine: the order of the checks and
// a run that a Ctrl+C cuts short.
#include "cli/doctor_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/recording_output.h"

namespace zanvor {
namespace {

// Every path delivers, until the Ctrl+C comes: then the wait under way ends
// without its post, as PumpUntil ends on an interruption.
class FakeDoctorMachine final : public DoctorMachine {
 public:
  MailslotOpenResult OpenDomainMailslot() override { return {true, 0}; }
  bool StartInstance(std::string*) override {
    started = true;
    return true;
  }
  ServerFacts FindServer() override {
    ServerFacts facts;
    facts.window = 0x1002E;
    facts.udpSocket = "open";
    return facts;
  }
  Delivery PostLocal() override { return Deliver(); }
  Delivery SendOverMailslot() override { return Deliver(); }
  std::vector<AdapterAddress> Adapters() override { return {{0x0A4D0001, 24}}; }
  Delivery SendOverUdp(uint32_t) override { return Deliver(); }
  void StopInstance() override { stopped = true; }
  FirewallState ReadFirewall() override {
    ++registryReads;
    return FirewallState();
  }
  PolicyValue ReadPolicy(const char*) override {
    ++registryReads;
    return PolicyValue();
  }
  bool Interrupted() override { return interrupted; }

  int interruptAtDelivery = -1;  // the delivery (0, 1, ...) whose wait Ctrl+C ends
  bool interrupted = false;
  bool started = false;
  bool stopped = false;
  int registryReads = 0;

 private:
  Delivery Deliver() {
    Delivery delivery;
    delivery.timeoutSeconds = 5;
    if (deliveries_++ == interruptAtDelivery) interrupted = true;
    delivery.delivered = !interrupted;
    delivery.milliseconds = 3;
    return delivery;
  }
  int deliveries_ = 0;
};

std::vector<std::string> Checks(const RecordingOutput& out) {
  std::vector<std::string> heads;
  for (const std::string& line : out.out) {
    if (line.compare(0, 6, "      ") != 0) heads.push_back(line.substr(0, line.find(':')));
  }
  return heads;
}

TEST(DoctorRunTest, EveryCheckRunsInOrder) {
  FakeDoctorMachine machine;
  RecordingOutput out;
  EXPECT_EQ(RunDoctorChecks(machine, false, out), kExitSuccess);
  EXPECT_EQ(Checks(out), (std::vector<std::string>{
                             "ok    local post",
                             "ok    network post over the domain mailslot",
                             "ok    network post over UDP to 10.77.0.255",
                             "ok    network post over UDP to 127.0.0.1",
                             "warn  firewall",
                             "ok    remote-mailslot policy",
                         }));
  EXPECT_TRUE(machine.stopped);
}

TEST(DoctorRunTest, CtrlCEndsTheRunThereAndSaysItWasCutShort) {
  FakeDoctorMachine machine;
  machine.interruptAtDelivery = 2;  // while waiting for the broadcast over UDP
  RecordingOutput out;
  EXPECT_EQ(RunDoctorChecks(machine, false, out), kExitFailure);
  EXPECT_EQ(out.out, (std::vector<std::string>{
                         "ok    local post: round trip through the server instance (window "
                         "0x0001002E) in 3 ms",
                         "ok    network post over the domain mailslot: delivered in 3 ms",
                         "stop  run: cut short by Ctrl+C during the network post over UDP to "
                         "10.77.0.255:38217 (adapter 10.77.0.1/24); the checks after it did not "
                         "run, run zanvor doctor again to see them",
                     }));
  // No "sent, but not received", no fixes, no further checks; the instance
  // is still unloaded.
  EXPECT_EQ(machine.registryReads, 0);
  EXPECT_TRUE(machine.stopped);

  FakeDoctorMachine first;
  first.interruptAtDelivery = 0;
  RecordingOutput json;
  EXPECT_EQ(RunDoctorChecks(first, true, json), kExitFailure);
  EXPECT_EQ(json.out, (std::vector<std::string>{
                          "{\"check\": \"run\", \"result\": \"stop\", \"found\": \"cut short by "
                          "Ctrl+C during the local post; the checks after it did not run, run "
                          "zanvor doctor again to see them\", \"fix\": \"\"}",
                      }));
}

TEST(DoctorRunTest, CtrlCBeforeTheInstanceLoadsRunsNoCheck) {
  FakeDoctorMachine machine;
  machine.interrupted = true;
  RecordingOutput out;
  EXPECT_EQ(RunDoctorChecks(machine, false, out), kExitFailure);
  EXPECT_FALSE(machine.started);
  EXPECT_EQ(Checks(out), std::vector<std::string>{"stop  run"});
}

}  // namespace
}  // namespace zanvor
