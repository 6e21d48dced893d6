// The machine settings zanvor doctor reads from the registry: the
// remote-mailslot policies and the Windows firewall's profiles and rules.
#ifndef ZANVOR_TOOLS_CLI_WINDOWS_SETTINGS_WIN_H_
#define ZANVOR_TOOLS_CLI_WINDOWS_SETTINGS_WIN_H_

#include "cli/doctor_checks.h"

namespace zanvor {

// EnableMailslots under HKLM\`key`.
PolicyValue ReadMailslotPolicy(const char* key);

// The profiles' EnableFirewall values (a policy's value over the local one)
// and every rule text, the local ones and those set by policy.
FirewallState ReadFirewallState();

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_CLI_WINDOWS_SETTINGS_WIN_H_
