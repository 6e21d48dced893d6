// zanvor status on Windows. It loads no library: an instance of its own
// would take the server role where none runs, and so change the picture it
// is to show.
#include <windows.h>

#include "cli/machine_probe_win.h"
#include "cli/status_view.h"
#include "cli/verb_session_win.h"
#include "cli/verbs_win.h"
#include "messaging/udp_path_win.h"

namespace zanvor {

int RunStatusVerb(const VerbOptions& options, ToolOutput& out) {
  VerbSession session;
  const int opened = OpenVerbSession(options, false, out, &session);
  if (opened != kExitSuccess) return opened;
  const DWORD wait = TimeoutMilliseconds(options, kDefaultStatusWaitSeconds);
  MachinePicture picture;
  picture.waitSeconds = wait / 1000.0;
  if (AnyInstanceRuns()) {
    const HWND server = session.probe->FindServer(wait);
    picture.server = server == nullptr ? ServerSearch::kNoAnswer : ServerSearch::kFound;
    if (server != nullptr) {
      picture.serverWindow = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(server));
      picture.serverProcess = ProcessOfWindow(server);
      picture.serverProgram = ProgramOfProcess(picture.serverProcess);
      picture.reportRead = session.probe->RequestStatus(server, wait, &picture.report) ==
                           MachineProbe::StatusResult::kRead;
    }
  }
  picture.domainMailslot = OpenDomainMailslot();
  picture.adapters = UpAdapterAddresses();
  if (options.json) {
    out.Out(StatusJson(picture));
  } else {
    for (const std::string& line : StatusLines(picture)) out.Out(line);
  }
  return kExitSuccess;
}

}  // namespace zanvor
