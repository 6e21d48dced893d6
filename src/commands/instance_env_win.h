// The Windows side of the instance protocol: the ring in the named section,
// posted window messages, the server role, the retry timer and the host's
// command line; and the receive sink through which the server's receive
// timer hands network texts to the protocol.
#ifndef ZANVOR_COMMANDS_INSTANCE_ENV_WIN_H_
#define ZANVOR_COMMANDS_INSTANCE_ENV_WIN_H_

#include <windows.h>

#include "base/unique_handle_win.h"
#include "commands/instance_protocol.h"
#include "messaging/receive_tick.h"
#include "messaging/server_role_win.h"
#include "registry/machine_objects_win.h"

namespace zanvor {

// REQUIRES: machine, role and receiving outlive the env; retryTimerProc
// ends up in the protocol's OnRetryTimer().
class WinInstanceEnv final : public InstanceEnv {
 public:
  WinInstanceEnv(const MachineObjects& machine, ServerRole& role, const ReceiveState& receiving,
                 TIMERPROC retryTimerProc)
      : machine_(machine), role_(role), receiving_(receiving), retryTimerProc_(retryTimerProc) {}
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
  const MachineObjects& machine_;
  ServerRole& role_;
  const ReceiveState& receiving_;
  TIMERPROC retryTimerProc_;
  // Resends unacknowledged registrations.
  UniqueThreadTimer retryTimer_;
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

uint32_t WindowValue(HWND window);
HWND AsWindow(uint32_t value);

}  // namespace zanvor

#endif  // ZANVOR_COMMANDS_INSTANCE_ENV_WIN_H_
