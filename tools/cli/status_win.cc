// zanvor status on Windows. It loads no library: an instance of its own
// would take the server role where none runs, and so change the picture it
// is to show.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "cli/status_view.h"
#include "cli/verb_session_win.h"
#include "cli/verbs_win.h"
#include "fll_host/machine_probe_win.h"
#include "messaging/udp_path_win.h"

namespace zanvor {
namespace {

// How long after the last answer the next is waited for: the instances
// answer as soon as their message loops run, all within this of each
// other unless one is busy in a handler.
constexpr DWORD kEveryStatusQuietMs = 500;

}  // namespace

int RunStatusVerb(const Invocation& invocation, ToolOutput& out) {
  const VerbOptions& options = invocation.options;
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
  if (AnyInstanceRuns()) {
    // Each instance answers for itself: its names and dropped texts are its
    // own, the server knows them only for the names it holds.
    picture.instancesAsked = true;
    std::vector<StatusReport> reports =
        session.probe->RequestEveryStatus(kEveryStatusQuietMs, wait, &picture.unreadableAnswers);
    std::sort(reports.begin(), reports.end(), [](const StatusReport& a, const StatusReport& b) {
      return a.process != b.process ? a.process < b.process : a.window < b.window;
    });
    for (const StatusReport& report : reports) {
      picture.instances.push_back({report, ProgramOfProcess(report.process)});
    }
  }
  picture.domainMailslot = OpenDomainMailslot(session.network);
  picture.adapters = UpAdapterAddresses();
  if (options.json) {
    out.Out(StatusJson(picture));
  } else {
    for (const std::string& line : StatusLines(picture)) out.Out(line);
  }
  return kExitSuccess;
}

}  // namespace zanvor
