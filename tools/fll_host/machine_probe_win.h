// What a process learns of this machine's instances without being one (the
// tool's status, doctor and waits for the server; zanvor_probe.exe's
// find-server): a
// message-only window of its own asks for the server with ServerQuery (the
// server answers every asker with ServerReply) and for an instance's status
// with the status request, whose text it reads from the machine's ring.
#ifndef ZANVOR_TOOLS_FLL_HOST_MACHINE_PROBE_WIN_H_
#define ZANVOR_TOOLS_FLL_HOST_MACHINE_PROBE_WIN_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "commands/status_report.h"

namespace zanvor {

class MachineProbe {
 public:
  static std::unique_ptr<MachineProbe> Create(std::string* error);
  ~MachineProbe();
  MachineProbe(const MachineProbe&) = delete;
  MachineProbe& operator=(const MachineProbe&) = delete;

  // Broadcasts ServerQuery and pumps until the server answers: its main
  // window, or null when none answered within the time.
  //
  // The server handles its messages in order, and posted messages reach
  // this thread in order: when the answer comes, the server has handled
  // everything posted to it before the query, and this thread has
  // dispatched every answer the server sent before (to an instance of the
  // tool's own, say).
  HWND FindServer(DWORD milliseconds);

  // Broadcasts ServerQuery and collects every server that answers within
  // the whole time, each once, in the order they answered: more than one
  // is a machine whose instances disagree on their server.
  std::vector<HWND> FindServers(DWORD milliseconds);

  enum class StatusResult { kRead, kNoAnswer, kUnreadable };
  // Asks `instance` for its status and reads the text from the ring.
  // kUnreadable: the ring was written over the text before it was read, on
  // every try, or the machine has no ring.
  StatusResult RequestStatus(HWND instance, DWORD milliseconds, StatusReport* report);

  // Asks every instance of the machine at once (the status request, posted
  // to every top-level window: each instance's main window is one) and
  // reads each answer as it comes, until none came for `quietMs` after the
  // last, or `milliseconds` are up. *unreadable counts the answers whose
  // text the ring had written over before it was read.
  std::vector<StatusReport> RequestEveryStatus(DWORD quietMs, DWORD milliseconds,
                                               uint32_t* unreadable);

 private:
  MachineProbe(ATOM windowClass, UniqueWindow window);
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  ATOM windowClass_;
  UniqueWindow window_;
  UINT instanceMessage_;
  UINT statusMessage_;
  std::vector<HWND> servers_;
  struct Answer {
    uint16_t position;
    uint32_t check;
  };
  std::vector<Answer> answers_;
  UniqueHandle section_;
};

// Whether the server role's mutex exists: some process has the library
// loaded. It is only opened, never waited on.
bool AnyInstanceRuns();

// The process of a window, and the file name of that process's program.
uint32_t ProcessOfWindow(HWND window);
std::string ProgramOfProcess(uint32_t process);
// The full path of that program file, "" when unknown.
std::string ProgramPathOfProcess(uint32_t process);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_FLL_HOST_MACHINE_PROBE_WIN_H_
