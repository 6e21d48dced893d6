// The Windows side of the instance protocol: the ring in the named section,
// posted window messages, the server claim and the host's command line.
#ifndef ZANVOR_COMMANDS_INSTANCE_ENV_WIN_H_
#define ZANVOR_COMMANDS_INSTANCE_ENV_WIN_H_

#include <windows.h>

#include "commands/instance_protocol.h"

namespace zanvor {

class WinInstanceEnv final : public InstanceEnv {
 public:
  uint16_t StoreText(const std::string& text) override;
  std::string ReadText(uint16_t position) override;
  PostResult Post(uint32_t window, uint32_t wParam, uint32_t lParam) override;
  void Broadcast(uint32_t wParam, uint32_t lParam) override;
  bool ClaimServerRole() override;
  void ExecuteCommand(const std::string& command) override;
  void ShowErrorBox(const std::string& text) override;
};

// This process's instance: its protocol state and tables.
InstanceProtocol& Protocol();

// The ANSI code page's lead bytes, for the multibyte-aware searches.
bool IsLeadByte(uint8_t byte);

uint32_t WindowValue(HWND window);
HWND AsWindow(uint32_t value);

}  // namespace zanvor

#endif  // ZANVOR_COMMANDS_INSTANCE_ENV_WIN_H_
