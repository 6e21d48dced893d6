#include "commands/status_report.h"

#include <cstdlib>
#include <cstring>

namespace zanvor {
namespace {

struct Field {
  const char* key;
  uint32_t StatusReport::*plain;
  uint32_t InstanceCounters::*instance;
  uint32_t ReceiveCounters::*receive;
};

// One table for both directions, so that writer and reader cannot drift.
const Field kFields[] = {
    {"window", &StatusReport::window, nullptr, nullptr},
    {"process", &StatusReport::process, nullptr, nullptr},
    {"server_window", &StatusReport::serverWindow, nullptr, nullptr},
    {"own_names", &StatusReport::ownNames, nullptr, nullptr},
    {"texts_dropped", nullptr, &InstanceCounters::textsDropped, nullptr},
    {"name_changes_given_up", nullptr, &InstanceCounters::nameChangesGivenUp, nullptr},
    {"posts_refused", nullptr, &InstanceCounters::postsRefused, nullptr},
    {"table_names", &StatusReport::tableNames, nullptr, nullptr},
    {"table_entries", &StatusReport::tableEntries, nullptr, nullptr},
    {"ring_next", &StatusReport::ringNext, nullptr, nullptr},
    {"mailslot_datagrams", nullptr, nullptr, &ReceiveCounters::mailslotDatagrams},
    {"udp_datagrams", nullptr, nullptr, &ReceiveCounters::udpDatagrams},
    {"delivered", nullptr, nullptr, &ReceiveCounters::delivered},
    {"duplicates", nullptr, nullptr, &ReceiveCounters::duplicates},
    {"bad_datagrams", nullptr, nullptr, &ReceiveCounters::bad},
};

uint32_t& Slot(const Field& field, StatusReport& report) {
  if (field.plain != nullptr) return report.*field.plain;
  if (field.instance != nullptr) return report.instance.*field.instance;
  return report.receive.*field.receive;
}

}  // namespace

std::string FormatStatusReport(const StatusReport& report) {
  StatusReport copy = report;
  std::string text;
  for (const Field& field : kFields) {
    text += field.key;
    text += '=';
    text += std::to_string(Slot(field, copy));
    text += '\n';
  }
  text += "server=";
  text += report.isServer ? "1" : "0";
  text += "\nudp_socket=" + report.udpSocket + "\n";
  return text;
}

bool ParseStatusReport(const std::string& text, StatusReport* report) {
  *report = StatusReport();
  bool sawWindow = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "server") {
      report->isServer = value == "1";
    } else if (key == "udp_socket") {
      report->udpSocket = value;
    } else {
      for (const Field& field : kFields) {
        if (key != field.key) continue;
        Slot(field, *report) = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        sawWindow |= key == "window";
      }
    }
  }
  return sawWindow;
}

}  // namespace zanvor
