// The status an instance reports on request (see extension_messages.h): a
// text of "key=value\n" lines, so that a reader of an older or newer build
// skips keys it does not know. Counters run from the load on.
#ifndef ZANVOR_COMMANDS_STATUS_REPORT_H_
#define ZANVOR_COMMANDS_STATUS_REPORT_H_

#include <cstdint>
#include <string>

#include "messaging/receive_counters.h"

namespace zanvor {

struct InstanceCounters {
  // Texts this instance was handed and could not read: the ring had wrapped
  // over them (the check did not match) before the instance got there.
  uint32_t textsDropped = 0;
  // Registrations and withdrawals of this instance's names that the server
  // never acknowledged: sent again until their retries ran out, or pushed out
  // of the list of changes awaiting an acknowledgement by newer ones. An
  // older server acknowledges nothing, so there every change ends here.
  uint32_t nameChangesGivenUp = 0;
  // Messages to another instance that its full message queue refused
  // (PostMessage failed on a live window): each one lost.
  uint32_t postsRefused = 0;
};

struct StatusReport {
  uint32_t window = 0;        // the reporting instance's main window
  uint32_t process = 0;       // its process id
  uint32_t serverWindow = 0;  // the server it knows, 0 while none
  bool isServer = false;
  uint32_t ownNames = 0;  // names this instance subscribed
  InstanceCounters instance;
  // The server's part; meaningful when isServer.
  uint32_t tableNames = 0;
  uint32_t tableEntries = 0;
  uint32_t ringNext = 0;  // the position the next store will use
  // "open", "closed" or "error N": the server's UDP socket.
  std::string udpSocket;
  ReceiveCounters receive;
};

std::string FormatStatusReport(const StatusReport& report);
// Reads what it knows of a status text; false when the text is not one (no
// "window=" line). Unknown keys are skipped, missing ones keep their zeros.
bool ParseStatusReport(const std::string& text, StatusReport* report);

}  // namespace zanvor

#endif  // ZANVOR_COMMANDS_STATUS_REPORT_H_
