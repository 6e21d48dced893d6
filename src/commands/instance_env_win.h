// The Windows side of the instance protocol: the ring in the named section,
// posted window messages, the server claim and the host's command line; and
// the receive sink through which the server's receive timer hands network
// texts to the protocol.
#ifndef ZANVOR_COMMANDS_INSTANCE_ENV_WIN_H_
#define ZANVOR_COMMANDS_INSTANCE_ENV_WIN_H_

#include <windows.h>

#include "commands/instance_protocol.h"
#include "messaging/mailslot_server_win.h"
#include "messaging/receive_tick.h"
#include "messaging/udp_path_win.h"
#include "registry/process_state_win.h"

namespace zanvor {

// REQUIRES: state, receiving, server and udp outlive the env.
class WinInstanceEnv final : public InstanceEnv {
 public:
  WinInstanceEnv(ProcessState& state, const ReceiveState& receiving, MailslotServer& server,
                 UdpReceiver& udp, TIMERPROC retryTimerProc, TIMERPROC settleTimerProc)
      : state_(state),
        receiving_(receiving),
        server_(server),
        udp_(udp),
        retryTimerProc_(retryTimerProc),
        settleTimerProc_(settleTimerProc) {}
  uint16_t StoreText(const std::string& text) override;
  std::string ReadText(uint16_t position) override;
  std::string ReadName(uint16_t position) override;
  PostResult Post(uint32_t window, uint32_t wParam, uint32_t lParam) override;
  void Broadcast(uint32_t wParam, uint32_t lParam) override;
  bool ClaimServerRole() override;
  void ExecuteCommand(const std::string& command) override;
  void ShowErrorBox(const std::string& text) override;
  PostResult PostExtension(ExtensionMessage message, uint32_t window, uint32_t wParam,
                           uint32_t lParam) override;
  void ArmRetryTimer(uint32_t delayMs) override;
  void CancelRetryTimer() override;
  uint32_t NowMs() override;
  void AddMachineStatus(StatusReport* report) override;
  bool ArmSettleTimer(uint32_t delayMs) override;
  void CancelSettleTimer() override;

 private:
  ProcessState& state_;
  const ReceiveState& receiving_;
  MailslotServer& server_;
  UdpReceiver& udp_;
  TIMERPROC retryTimerProc_;
  TIMERPROC settleTimerProc_;
  uint32_t postsRefused_ = 0;  // see InstanceCounters
};

// Hands received texts to the protocol it is bound to; the protocol is made
// after the sink (it needs the env, which needs the server, which needs the
// sink), so it is bound once it exists. REQUIRES: bound before the first
// datagram, and the protocol outlives the sink.
class ProtocolReceiveSink final : public ReceiveSink {
 public:
  void Bind(InstanceProtocol& protocol) { protocol_ = &protocol; }
  void DispatchReceived(const std::string& name, const std::string& message) override;
  void ShowErrorBox(const std::string& text) override;
  uint32_t LastError() override;

 private:
  InstanceProtocol* protocol_ = nullptr;
};

// lstrcmpA compares in the user's locale, case-sensitively: the comparison
// every instance of the machine uses for subscription names.
int CompareNames(const char* a, const char* b);

// The ANSI code page's lead bytes, for the multibyte-aware searches.
bool IsLeadByte(uint8_t byte);

// The registered id of one of the library's own messages; 0 before the load.
UINT ExtensionMessageId(const ProcessState& state, ExtensionMessage message);

uint32_t WindowValue(HWND window);
HWND AsWindow(uint32_t value);

}  // namespace zanvor

#endif  // ZANVOR_COMMANDS_INSTANCE_ENV_WIN_H_
