// The zanvor tool's command line: a command (verb) first, then its options
// and arguments in any order; "--" ends the options, so that a message may
// start with "-". Without a verb the arguments are run's, as the stand-in
// host took them before it became one verb of the tool.
//
// Every verb is one row of a table in command_line.cc (its name, whether it
// needs an instance of the library, its options in the order its --help
// lists them, its rule for arguments, its texts), and every option one row
// (its name, its value, what it sets). The parser, --help, the tool's usage
// and the usage errors are all made from those rows; each build binds the run
// functions of the verbs it has (RunTool).
//
// Exit codes: common/exit_codes.h.
#ifndef ZANVOR_TOOLS_CLI_COMMAND_LINE_H_
#define ZANVOR_TOOLS_CLI_COMMAND_LINE_H_

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "cli/text_output.h"
#include "common/exit_codes.h"
#include "gateway/gateway_options.h"
#include "stand_in_host/run_options.h"

namespace zanvor {

enum class Verb { kNone, kRun, kPost, kListen, kStatus, kDoctor, kGateway };

// What this build can do. The Windows build is an instance of the library
// and has every verb but gateway; the native build speaks the UDP path
// alone, so it posts to every machine, listens and joins the LAN to an MQTT
// broker (gateway, linked against libmosquitto), and nothing else.
struct ToolCapabilities {
  bool instance = false;
};

// The options of post, listen, status and doctor; each verb reads its own.
struct VerbOptions {
  bool json = false;
  std::string library;  // "": zanvor.fll beside the tool
  std::string network;  // the stand-in host's network emulation
  bool networkGiven = false;
  double timeoutSeconds = -1;  // < 0: not given
  // post
  bool local = false;
  bool lines = false;
  std::string name;
  std::string message;
  bool messageFromInput = false;  // MESSAGE "-"
  // listen
  std::vector<std::string> names;  // in the order given, each once
  uint64_t count = 0;              // 0: no limit
  // gateway
  GatewayOptions gateway;
};

struct Invocation {
  Verb verb = Verb::kNone;
  bool help = false;  // print UsageText(verb) and exit with kExitSuccess
  RunOptions run;
  VerbOptions options;
};

// Fills *out from the arguments after the program name. On a usage error
// returns false with *error: one line that says what was wrong and where to
// look, without the "zanvor: " every error line starts with.
bool ParseCommandLine(const std::vector<std::string>& args, const ToolCapabilities& capabilities,
                      Invocation* out, std::string* error);

// ParseCommandLine, then the answers that need no verb: a usage error goes to
// out.Err, --help to out.Out. True when the verb is to run; otherwise
// *exitCode is the tool's exit code.
bool ParseOrAnswer(const std::vector<std::string>& args, const ToolCapabilities& capabilities,
                   ToolOutput& out, Invocation* invocation, int* exitCode);

// --help of the tool (kNone) or of one verb, for this build.
std::string UsageText(Verb verb, const ToolCapabilities& capabilities);

const char* VerbName(Verb verb);

// A verb's run function in one build; returns the exit code.
using VerbRun = int (*)(const Invocation& invocation, ToolOutput& out);
struct VerbBinding {
  Verb verb;
  VerbRun run;
};

// The tool's main on every build: ParseOrAnswer, then the run function that
// `verbs` binds to the verb. Nothing thrown gets past it: anything is
// reported as "zanvor: out of memory" with kExitFailure.
// REQUIRES: `verbs` binds every verb this build's capabilities offer.
int RunTool(int argc, char** argv, const ToolCapabilities& capabilities,
            std::initializer_list<VerbBinding> verbs, ToolOutput& out);

// The longest --timeout, in seconds: the Windows verbs wait in milliseconds
// of 32 bits. A longer one is a usage error rather than a wait that wraps
// round to a short one.
constexpr double kMaxTimeoutSeconds = 4294967;

// --timeout in milliseconds, or `defaultSeconds` when it was not given.
uint32_t TimeoutMilliseconds(const VerbOptions& options, double defaultSeconds);

// The defaults of --timeout, in seconds.
constexpr double kDefaultServerWaitSeconds = 5;  // post --local, doctor's checks
constexpr double kDefaultStatusWaitSeconds = 3;  // status: the server's answers

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_CLI_COMMAND_LINE_H_
