// zanvor gateway on Linux: the broker connection (libmosquitto, MQTT 5) and
// the LAN socket, driven by one poll loop until SIGINT or SIGTERM.
#ifndef ZANVOR_TOOLS_GATEWAY_GATEWAY_RUN_POSIX_H_
#define ZANVOR_TOOLS_GATEWAY_GATEWAY_RUN_POSIX_H_

#include <functional>
#include <string>

#include "gateway/gateway_options.h"

namespace zanvor {

// Runs the gateway; returns the tool's exit code: kExitSuccess after a
// signal ended it, kExitFailure for a refused login, a failed TLS handshake
// or certificate check, or a LAN port that cannot be opened, kExitUsage for
// settings only the system can judge (an unknown charset or interface,
// plain MQTT leaving the local networks without --insecure). Event lines go
// to `err`, or with `json` as JSON objects to `out`; errors to `err`.
using LineWriter = std::function<void(const std::string& line)>;
int RunGateway(const GatewayOptions& options, bool json, const LineWriter& out,
               const LineWriter& err);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_GATEWAY_GATEWAY_RUN_POSIX_H_
