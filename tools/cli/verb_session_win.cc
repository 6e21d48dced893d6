#include "cli/verb_session_win.h"

#include "common/std_output_win.h"
#include "contract/network.h"
#include "fll_host/console_events_win.h"

namespace zanvor {

void StdHandlesOutput::Out(const std::string& line) { WriteStdout(line); }

void StdHandlesOutput::Err(const std::string& line) { WriteStderr(line); }

int OpenVerbSession(const VerbOptions& options, bool load, ToolOutput& out, VerbSession* session) {
  std::string error;
  const int started = session->network.Start(options.network, options.networkGiven, &error);
  if (started != kExitSuccess) {
    out.Err(error);
    return started;
  }
  session->probe = MachineProbe::Create(&error);
  if (session->probe == nullptr) {
    out.Err("zanvor: " + error);
    return kExitFailure;
  }
  if (!load) return kExitSuccess;
  // Before the load: from here on no console event finds the library loaded
  // without a handler that waits for its unload.
  CatchInterrupts();
  session->instance = ToolInstance::Create(session->network, out, &error);
  if (session->instance == nullptr) {
    out.Err("zanvor: " + error);
    return kExitFailure;
  }
  const std::string library = options.library.empty() ? LibraryBesideTool() : options.library;
  if (!session->instance->Load(library, &error)) {
    out.Err("zanvor: " + error);
    return kExitFailure;
  }
  return kExitSuccess;
}

MailslotOpenResult OpenDomainMailslot(NetworkAttachment& network, UniqueFile* handle) {
  UniqueFile file(network.Open(kNetworkMailslotName, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL));
  MailslotOpenResult result;
  result.open = file.valid();
  if (!result.open) result.error = GetLastError();
  if (handle != nullptr) *handle = std::move(file);
  return result;
}

}  // namespace zanvor
