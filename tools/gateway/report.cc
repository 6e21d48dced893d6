#include "gateway/report.h"

#include "common/text.h"

namespace zanvor {

std::string EventReport(bool json, const std::string& event,
                        const std::vector<ReportField>& fields) {
  if (json) {
    std::string line = "{\"event\":" + JsonString(event);
    for (const ReportField& field : fields) {
      line += "," + JsonString(field.key) + ":" +
              (field.number ? field.value : JsonString(field.value));
    }
    return line + "}";
  }
  std::string line = "zanvor gateway: " + event;
  for (const ReportField& field : fields) {
    line += " " + field.key + "=" + EscapeForLine(field.value);
  }
  return line;
}

std::string StatsReport(bool json, const GatewayCounters& counters) {
  std::vector<ReportField> fields = {
      {"published", std::to_string(counters.published), true},
      {"broadcast", std::to_string(counters.broadcast), true},
      {"reconnects", std::to_string(counters.reconnects), true},
  };
  for (int i = 1; i < kDropKinds; ++i) {
    fields.push_back({std::string("dropped_") + DropName(static_cast<Drop>(i)),
                      std::to_string(counters.dropped[i]), true});
  }
  return EventReport(json, "stats", fields);
}

}  // namespace zanvor
