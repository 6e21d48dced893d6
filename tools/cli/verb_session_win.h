// What the Windows verbs share: the network emulation, the probe of the
// machine's instances and, for the verbs that are an instance, the tool's
// own instance with the library loaded.
#ifndef ZANVOR_TOOLS_CLI_VERB_SESSION_WIN_H_
#define ZANVOR_TOOLS_CLI_VERB_SESSION_WIN_H_

#include <windows.h>

#include <memory>
#include <string>

#include "base/unique_handle_win.h"
#include "cli/command_line.h"
#include "cli/status_view.h"
#include "cli/text_output.h"
#include "cli/tool_instance_win.h"
#include "fll_host/machine_probe_win.h"
#include "fll_host/network_attach_win.h"

namespace zanvor {

// The standard handles, as the stand-in host writes them.
class StdHandlesOutput final : public ToolOutput {
 public:
  void Out(const std::string& line) override;
  void Err(const std::string& line) override;
};

struct VerbSession {
  // Members end in reverse: the instance unloads before the emulation goes.
  NetworkAttachment network;
  std::unique_ptr<MachineProbe> probe;
  std::unique_ptr<ToolInstance> instance;
};

// Starts the emulation (--network, else ZANVOR_NETWORK), makes the probe
// and, with `load`, the instance with the library loaded. Returns
// kExitSuccess, or the exit code after printing why not.
int OpenVerbSession(const VerbOptions& options, bool load, ToolOutput& out, VerbSession* session);

// Opens the domain mailslot for writing as ZANVOR does (through the
// network emulation when one is on). *handle, when given, keeps it open.
MailslotOpenResult OpenDomainMailslot(NetworkAttachment& network, UniqueFile* handle = nullptr);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_CLI_VERB_SESSION_WIN_H_
