// zanvor status's picture of the machine and its two renderings: aligned
// plain lines and one JSON object.
#ifndef ZANVOR_TOOLS_CLI_STATUS_VIEW_H_
#define ZANVOR_TOOLS_CLI_STATUS_VIEW_H_

#include <cstdint>
#include <string>
#include <vector>

#include "commands/status_report.h"
#include "messaging/broadcast_targets.h"

namespace zanvor {

// Opening "\\*\mailslot\VFP\ZANVOR\SERVER" for writing, as ZANVOR does.
struct MailslotOpenResult {
  bool open = false;
  uint32_t error = 0;  // GetLastError() of the failed open
};

// "open", or what the error means for the mailslot path, with its number.
std::string DescribeDomainMailslot(const MailslotOpenResult& result);

enum class ServerSearch {
  kFound,
  kNoInstance,  // the server mutex does not exist: nothing has the library loaded
  kNoAnswer,    // instances exist, but no server answered ServerQuery in time
};

// One instance's own answer to the status request.
struct InstanceStatus {
  StatusReport report;
  std::string program;  // its program file's name, "" when unknown
};

struct MachinePicture {
  ServerSearch server = ServerSearch::kNoInstance;
  double waitSeconds = 0;  // how long the answers were waited for
  uint32_t serverWindow = 0;
  uint32_t serverProcess = 0;  // 0 when unknown
  std::string serverProgram;   // the program file's name, "" when unknown
  bool reportRead = false;     // the server answered the status request
  StatusReport report;
  MailslotOpenResult domainMailslot;
  std::vector<AdapterAddress> adapters;  // up, not loopback
  // Every instance of the machine that answered the status request, when
  // they were asked (instances exist).
  bool instancesAsked = false;
  std::vector<InstanceStatus> instances;
  uint32_t unreadableAnswers = 0;  // answers whose text the ring lost before it was read
};

std::vector<std::string> StatusLines(const MachinePicture& picture);
std::string StatusJson(const MachinePicture& picture);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_CLI_STATUS_VIEW_H_
