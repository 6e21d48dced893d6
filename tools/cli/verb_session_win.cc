#include "cli/verb_session_win.h"

#include <cstdlib>

#include "cli/message_pump_win.h"
#include "stand_in_host/host_app_win.h"

namespace zanvor {

void StdHandlesOutput::Out(const std::string& line) { WriteStdout(line); }

void StdHandlesOutput::Err(const std::string& line) { WriteStderr(line); }

int OpenVerbSession(const VerbOptions& options, bool load, ToolOutput& out, VerbSession* session) {
  std::string network = options.network;
  if (!options.networkGiven) {
    const char* fromEnvironment = std::getenv("ZANVOR_NETWORK");
    if (fromEnvironment != nullptr) network = fromEnvironment;
  }
  std::string error;
  if (!session->network.Configure(network, &error)) {
    out.Err("zanvor: network emulation: " + error + " (see zanvor run --help)");
    return kExitUsage;
  }
  if (!session->network.Start(&error)) {
    out.Err("zanvor: network emulation: " + error);
    return kExitFailure;
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

}  // namespace zanvor
