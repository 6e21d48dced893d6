// The gateway's output lines: one at start, at every connect and
// disconnect, and the counters every --stats-interval seconds and on
// SIGUSR1. Plain, each is one line for standard error; with --json, one
// JSON object for standard output.
#ifndef ZANVOR_TOOLS_GATEWAY_REPORT_H_
#define ZANVOR_TOOLS_GATEWAY_REPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "gateway/bridge.h"

namespace zanvor {

struct ReportField {
  std::string key;
  std::string value;
  bool number = false;  // in JSON without quotes
};

// "zanvor gateway: EVENT key=value ..." or {"event":"EVENT","key":...}.
// Plain values are written as given (with EscapeForLine), so a cause or a
// name stays on one line.
std::string EventReport(bool json, const std::string& event,
                        const std::vector<ReportField>& fields);

// The counters as the "stats" event: published, broadcast, reconnects and
// every drop reason (dropped_REASON), in that order, every reason listed
// even at 0 so that readers of the line find each one where it always is.
std::string StatsReport(bool json, const GatewayCounters& counters);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_GATEWAY_REPORT_H_
