// zanvor doctor on Windows: the tool's own instance subscribes a name of its
// own, and posts under it come back to its handler over each path.
// clang-format off
// winsock2.h before windows.h.
#include "base/unique_socket_win.h"
#include <windows.h>
// clang-format on

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "cli/clock.h"
#include "cli/doctor_run.h"
#include "cli/udp_datagrams.h"
#include "cli/verb_session_win.h"
#include "cli/verbs_win.h"
#include "cli/windows_settings_win.h"
#include "contract/network.h"
#include "fll_host/console_events_win.h"
#include "fll_host/main_window_win.h"
#include "messaging/packet_id_win.h"
#include "messaging/udp_path_win.h"

namespace zanvor {
namespace {

constexpr char kDoctorProcedure[] = "ZanvorDoctor";

class WinDoctorMachine final : public DoctorMachine {
 public:
  WinDoctorMachine(const VerbOptions& options, ToolOutput& out, VerbSession& session)
      : options_(options),
        out_(out),
        session_(session),
        wait_(TimeoutMilliseconds(options, kDefaultServerWaitSeconds)),
        name_("zanvor-doctor-" + std::to_string(GetCurrentProcessId())) {}

  MailslotOpenResult OpenDomainMailslot() override {
    return zanvor::OpenDomainMailslot(session_.network);
  }

  bool StartInstance(std::string* error) override {
    session_.instance = ToolInstance::Create(session_.network, out_, error);
    const std::string library = options_.library.empty() ? LibraryBesideTool() : options_.library;
    if (session_.instance == nullptr || !session_.instance->Load(library, error)) return false;
    session_.instance->OnProcedure([this](const std::string& name, const std::vector<Value>& args) {
      if (AsciiUpper(name) == AsciiUpper(kDoctorProcedure) && args.size() == 1 &&
          args[0].is_string()) {
        received_.push_back(args[0].text);
      }
    });
    const std::string handler = std::string("DO ") + kDoctorProcedure + " WITH <Msg>";
    return session_.instance->Call("SUBSCRIBE", {name_, handler}, error);
  }

  // Two rounds, as for a listener: then the server knows the doctor's name.
  ServerFacts FindServer() override {
    ServerFacts facts;
    HWND server = session_.probe->FindServer(wait_);
    if (server != nullptr) server = session_.probe->FindServer(wait_);
    if (server == nullptr) return facts;
    facts.ownInstance = server == session_.instance->window();
    facts.window = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(server));
    facts.process = ProcessOfWindow(server);
    facts.programPath = ProgramPathOfProcess(facts.process);
    StatusReport report;
    if (session_.probe->RequestStatus(server, wait_, &report) ==
        MachineProbe::StatusResult::kRead) {
      facts.udpSocket = report.udpSocket;
    }
    return facts;
  }

  Delivery PostLocal() override {
    return Deliver([&](std::string* error) {
      return session_.instance->Call("ZANVOR_LOCAL", {name_, message_}, error);
    });
  }

  Delivery SendOverMailslot() override {
    return Deliver([&](std::string* error) { return WriteMailslot(error); });
  }

  std::vector<AdapterAddress> Adapters() override { return UpAdapterAddresses(); }

  Delivery SendOverUdp(uint32_t target) override {
    return Deliver([&](std::string* error) { return SendUdp(target, error); });
  }

  void StopInstance() override {
    if (session_.instance == nullptr) return;
    std::string ignored;
    session_.instance->Call("UNSUBSCRIBE", {name_}, &ignored);
    session_.instance->Unload();
  }

  FirewallState ReadFirewall() override { return ReadFirewallState(); }

  PolicyValue ReadPolicy(const char* key) override { return ReadMailslotPolicy(key); }

  bool Interrupted() override { return zanvor::Interrupted(); }

 private:
  // Sends one post with a text of its own and waits for the handler to get it.
  Delivery Deliver(const std::function<bool(std::string*)>& send) {
    Delivery delivery;
    delivery.timeoutSeconds = wait_ / 1000.0;
    message_ = "check " + std::to_string(++posts_);
    const double start = MonotonicMilliseconds();
    std::string error;
    if (!send(&error)) {
      delivery.sent = false;
      delivery.sendError = error;
      return delivery;
    }
    delivery.delivered = PumpUntil(
        [this] {
          return std::find(received_.begin(), received_.end(), message_) != received_.end();
        },
        wait_);
    delivery.milliseconds = MonotonicMilliseconds() - start;
    return delivery;
  }

  bool Datagram(std::vector<uint8_t>* datagram, std::string* error) {
    uint8_t id[kPacketIdSize];
    const uint32_t ticks = GetTickCount();
    packetIds_.MakePacketId(ticks, id);
    return MakePostDatagram(name_, message_, id, ticks, datagram, error);
  }

  bool WriteMailslot(std::string* error) {
    UniqueFile mailslot;
    if (!zanvor::OpenDomainMailslot(session_.network, &mailslot).open) {
      *error = "the domain mailslot cannot be opened";
      return false;
    }
    std::vector<uint8_t> datagram;
    if (!Datagram(&datagram, error)) return false;
    DWORD written = 0;
    if (!WriteFile(mailslot.get(), datagram.data(), static_cast<DWORD>(datagram.size()), &written,
                   nullptr)) {
      *error = "WriteFile failed: error " + std::to_string(GetLastError());
      return false;
    }
    return true;
  }

  bool SendUdp(uint32_t target, std::string* error) {
    WinsockSession winsock;
    if (!winsock.ok()) {
      *error = "WSAStartup failed: error " + std::to_string(winsock.error());
      return false;
    }
    UniqueSocket socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!socket) {
      *error = "socket failed: error " + std::to_string(WSAGetLastError());
      return false;
    }
    const BOOL on = TRUE;
    setsockopt(socket.get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
               sizeof on);
    std::vector<uint8_t> datagram;
    if (!Datagram(&datagram, error)) return false;
    const sockaddr_in to = Ipv4Address(target, kUdpPort);
    if (sendto(socket.get(), reinterpret_cast<const char*>(datagram.data()),
               static_cast<int>(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to) != static_cast<int>(datagram.size())) {
      *error = "sendto failed: error " + std::to_string(WSAGetLastError());
      return false;
    }
    return true;
  }

  const VerbOptions& options_;
  ToolOutput& out_;
  VerbSession& session_;
  const DWORD wait_;
  const std::string name_;
  PacketIdSource packetIds_;
  std::vector<std::string> received_;
  std::string message_;
  int posts_ = 0;
};

}  // namespace

int RunDoctorVerb(const Invocation& invocation, ToolOutput& out) {
  const VerbOptions& options = invocation.options;
  VerbSession session;
  const int opened = OpenVerbSession(options, false, out, &session);
  if (opened != kExitSuccess) return opened;
  CatchInterrupts();
  WinDoctorMachine machine(options, out, session);
  return RunDoctorChecks(machine, options.json, out);
}

}  // namespace zanvor
