#include "cli/command_line.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "cli/post_verb.h"
#include "contract/network.h"
#include "gateway/lan.h"
#include "gateway/topics.h"

namespace zanvor {
namespace {

// ---- Texts ------------------------------------------------------------------

// The texts below name the numbers they show by placeholders, so that each
// number is defined once: {port}, {timeout_max} (seconds) and
// {timeout_max_days}, {server_wait} and {status_wait} (the default waits).
// Any other brace is text.
static_assert(kMaxTimeoutSeconds == static_cast<uint32_t>(kMaxTimeoutSeconds), "whole seconds");
static_assert(kDefaultServerWaitSeconds == static_cast<int>(kDefaultServerWaitSeconds),
              "whole seconds");
static_assert(kDefaultStatusWaitSeconds == static_cast<int>(kDefaultStatusWaitSeconds),
              "whole seconds");

std::string Whole(double value) { return std::to_string(static_cast<int64_t>(value)); }

std::string Fill(const std::string& text) {
  const std::pair<const char*, std::string> numbers[] = {
      {"{port}", std::to_string(kUdpPort)},
      {"{timeout_max}", Whole(kMaxTimeoutSeconds)},
      {"{timeout_max_days}", Whole(kMaxTimeoutSeconds / 86400)},
      {"{server_wait}", Whole(kDefaultServerWaitSeconds)},
      {"{status_wait}", Whole(kDefaultStatusWaitSeconds)},
  };
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    bool filled = false;
    for (const auto& number : numbers) {
      if (text.compare(at, std::char_traits<char>::length(number.first), number.first) == 0) {
        out += number.second;
        at += std::char_traits<char>::length(number.first);
        filled = true;
        break;
      }
    }
    if (!filled) out += text[at++];
  }
  return out;
}

// A text as the instance build words it and, when it words it otherwise, as
// the native build does.
struct BuildText {
  const char* instance;
  const char* native = nullptr;
  const char* Of(const ToolCapabilities& capabilities) const {
    return capabilities.instance || native == nullptr ? instance : native;
  }
};

// "  NAME      text": a help line with its text in the column at `column`,
// and each "\n" of the text going on in that column; a NAME that reaches
// the column has its text start on the next line, in the column.
std::string HelpLine(const std::string& name, const std::string& text, size_t column) {
  std::string line = "  " + name;
  if (column > name.size()) {
    line.append(column - name.size(), ' ');
  } else {
    line += "\n" + std::string(column + 2, ' ');
  }
  for (const char c : text) {
    line += c;
    if (c == '\n') line.append(column + 2, ' ');
  }
  return line + "\n";
}

constexpr size_t kOptionColumn = 19;   // in a verb's --help
constexpr size_t kCommandColumn = 22;  // in the tool's command list

constexpr BuildText kToolAbout = {
    "Posts and receives zanvor messages as a FoxPro program with zanvor.fll\n"
    "does, and shows and checks this machine's part of the system.\n",
    "Posts and receives zanvor messages over UDP port {port}, the network path\n"
    "every machine's server instance listens on.\n"};

constexpr BuildText kToolNotes = {
    "\"zanvor COMMAND --help\" shows a command's options. Without a command the\n"
    "arguments are run's (zanvor script.prg, zanvor -).\n"
    "\n"
    "post, listen, status and doctor load zanvor.fll from beside zanvor.exe (or\n"
    "--library FILE) with the host's main window, as a FoxPro program does.\n",
    "\"zanvor COMMAND --help\" shows a command's options. run, status, doctor and\n"
    "post --local run an instance of zanvor.fll: they need the Windows build.\n"};

// ---- Options ----------------------------------------------------------------

enum class OptionId {
  kJson,
  kTimeout,
  kCount,
  kLines,
  kLocal,
  kLibrary,
  kNetwork,
  kTable,
  kNoWindow,
  kBroker,
  kNames,
  kTopicPrefix,
  kUsername,
  kPasswordFile,
  kCafile,
  kClientId,
  kSite,
  kLan,
  kCharset,
  kStatsInterval,
  kInsecure
};

enum class SecondsParse { kOk, kNotSeconds, kTooLong };

SecondsParse ParseSeconds(const std::string& text, double* seconds) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != 0 || std::isnan(value) || value <= 0) {
    return SecondsParse::kNotSeconds;
  }
  if (value > kMaxTimeoutSeconds) return SecondsParse::kTooLong;
  *seconds = value;
  return SecondsParse::kOk;
}

bool ParseCount(const std::string& text, uint64_t* count) {
  if (text.empty() || text.size() > 18 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *count = std::strtoull(text.c_str(), nullptr, 10);
  return *count > 0;
}

// Stores an option's value (a flag's is ""); false with *problem when the
// option does not take that value.
using TakeOption = bool (*)(const std::string& value, Invocation* out, std::string* problem);

// One row per option: what it is called, the name of its value in --help,
// and what it sets. Which verbs take it, and in which builds, their rows say.
struct OptionRow {
  OptionId id;
  const char* name;
  const char* value;  // nullptr: a flag
  TakeOption take;
};

bool TakeTimeout(const std::string& value, Invocation* out, std::string* problem) {
  switch (ParseSeconds(value, &out->options.timeoutSeconds)) {
    case SecondsParse::kOk:
      return true;
    case SecondsParse::kNotSeconds:
      *problem = "--timeout takes a number of seconds above 0, not \"" + value + "\"";
      return false;
    case SecondsParse::kTooLong:
      break;
  }
  *problem = Fill("--timeout takes at most {timeout_max} seconds (about {timeout_max_days} days)") +
             ", not \"" + value + "\"";
  return false;
}

bool TakeCount(const std::string& value, Invocation* out, std::string* problem) {
  if (ParseCount(value, &out->options.count)) return true;
  *problem = "--count takes a whole number above 0, not \"" + value + "\"";
  return false;
}

// run keeps the library and the network emulation in RunOptions, the other
// verbs in VerbOptions.
bool TakeLibrary(const std::string& value, Invocation* out, std::string*) {
  (out->verb == Verb::kRun ? out->run.library : out->options.library) = value;
  return true;
}

bool TakeNetwork(const std::string& value, Invocation* out, std::string*) {
  const bool run = out->verb == Verb::kRun;
  (run ? out->run.networkGiven : out->options.networkGiven) = true;
  (run ? out->run.network : out->options.network) = value;
  return true;
}

// "a,b,c" as its items; false when one is empty.
bool SplitList(const std::string& value, std::vector<std::string>* items) {
  items->clear();
  size_t start = 0;
  for (;;) {
    const size_t comma = value.find(',', start);
    items->push_back(value.substr(start, comma - start));
    if (items->back().empty()) return false;
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

bool TakeBroker(const std::string& value, Invocation* out, std::string* problem) {
  GatewayOptions& g = out->options.gateway;
  g.brokerGiven = true;
  g.brokerText = value;
  return ParseBrokerUrl(value, &g.broker, problem);
}

bool TakeNameFilters(const std::string& value, Invocation* out, std::string* problem) {
  GatewayOptions& g = out->options.gateway;
  g.namesGiven = true;
  std::vector<std::string> filters;
  bool listed = SplitList(value, &filters);
  for (const std::string& filter : filters) listed = listed && IsValidTopicFilter(filter);
  if (listed) {
    g.names = filters;
    return true;
  }
  *problem =
      "--names takes MQTT topic filters separated by commas (orders, orders/#, +/alerts), "
      "not \"" +
      value + "\"";
  return false;
}

bool TakeTopicPrefix(const std::string& value, Invocation* out, std::string* problem) {
  if (value.find_first_of("+#") != std::string::npos) {
    *problem = "--topic-prefix may not hold the wildcards + and #, not \"" + value + "\"";
    return false;
  }
  // Topics that begin with $ are the broker's own: a filter such as # never
  // matches them, and brokers refuse or ignore publishes there.
  if (!value.empty() && value[0] == '$') {
    *problem =
        "--topic-prefix may not begin with $ (the broker's own topics), not \"" + value + "\"";
    return false;
  }
  out->options.gateway.topicPrefix = value;
  return true;
}

bool TakeSite(const std::string& value, Invocation* out, std::string* problem) {
  if (IsValidSiteName(value)) {
    out->options.gateway.site = value;
    return true;
  }
  *problem = "--site takes a name without /, + or #, not \"" + value + "\"";
  return false;
}

bool TakeLan(const std::string& value, Invocation* out, std::string* problem) {
  if (SplitList(value, &out->options.gateway.lan)) return true;
  *problem = "--lan takes interface names separated by commas, not \"" + value + "\"";
  return false;
}

bool TakeStatsInterval(const std::string& value, Invocation* out, std::string* problem) {
  const bool digits = !value.empty() && value.size() <= 5 &&
                      value.find_first_not_of("0123456789") == std::string::npos;
  const unsigned long seconds = digits ? std::strtoul(value.c_str(), nullptr, 10) : 0;
  if (seconds >= 1 && seconds <= kMaxStatsIntervalSeconds) {
    out->options.gateway.statsIntervalSeconds = static_cast<uint32_t>(seconds);
    return true;
  }
  *problem = "--stats-interval takes a whole number of seconds from 1 to " +
             std::to_string(kMaxStatsIntervalSeconds) + ", not \"" + value + "\"";
  return false;
}

// A gateway option that keeps its value as given.
template <std::string GatewayOptions::*field>
bool TakeGatewayText(const std::string& value, Invocation* out, std::string*) {
  out->options.gateway.*field = value;
  return true;
}

const OptionRow kOptions[] = {
    {OptionId::kJson, "--json", nullptr,
     [](const std::string&, Invocation* out, std::string*) { return out->options.json = true; }},
    {OptionId::kTimeout, "--timeout", "SECONDS", &TakeTimeout},
    {OptionId::kCount, "--count", "N", &TakeCount},
    {OptionId::kLines, "--lines", nullptr,
     [](const std::string&, Invocation* out, std::string*) { return out->options.lines = true; }},
    {OptionId::kLocal, "--local", nullptr,
     [](const std::string&, Invocation* out, std::string*) { return out->options.local = true; }},
    {OptionId::kLibrary, "--library", "FILE", &TakeLibrary},
    {OptionId::kNetwork, "--network", "MODE", &TakeNetwork},
    {OptionId::kTable, "--table", "FILE",
     [](const std::string& value, Invocation* out, std::string*) {
       out->run.table = value;
       return true;
     }},
    {OptionId::kNoWindow, "--no-window", nullptr,
     [](const std::string&, Invocation* out, std::string*) { return out->run.noWindow = true; }},
    {OptionId::kBroker, "--broker", "URL", &TakeBroker},
    {OptionId::kNames, "--names", "FILTER,...", &TakeNameFilters},
    {OptionId::kTopicPrefix, "--topic-prefix", "PREFIX", &TakeTopicPrefix},
    {OptionId::kUsername, "--username", "NAME", &TakeGatewayText<&GatewayOptions::username>},
    {OptionId::kPasswordFile, "--password-file", "FILE",
     &TakeGatewayText<&GatewayOptions::passwordFile>},
    {OptionId::kCafile, "--cafile", "FILE", &TakeGatewayText<&GatewayOptions::cafile>},
    {OptionId::kClientId, "--client-id", "ID", &TakeGatewayText<&GatewayOptions::clientId>},
    {OptionId::kSite, "--site", "NAME", &TakeSite},
    {OptionId::kLan, "--lan", "IFACE,...", &TakeLan},
    {OptionId::kCharset, "--charset", "CHARSET", &TakeGatewayText<&GatewayOptions::charset>},
    {OptionId::kStatsInterval, "--stats-interval", "SECONDS", &TakeStatsInterval},
    {OptionId::kInsecure, "--insecure", nullptr,
     [](const std::string&, Invocation* out, std::string*) {
       return out->options.gateway.insecure = true;
     }},
};

const OptionRow& OptionOf(OptionId id) {
  for (const OptionRow& row : kOptions) {
    if (row.id == id) return row;
  }
  return kOptions[0];  // unreachable: every id has its row
}

std::string OptionLabel(const OptionRow& option) {
  return option.value == nullptr ? option.name : std::string(option.name) + " " + option.value;
}

// ---- Verbs ------------------------------------------------------------------

// One option of one verb: in which builds the verb takes it, and its line in
// the verb's --help.
struct VerbOption {
  OptionId id;
  bool instanceOnly;
  const char* help;
  // What a build without it answers; nullptr: the unknown-option error.
  const char* absent = nullptr;
};

// Checks and stores a verb's arguments (what is not an option); false with
// *problem.
using TakeArguments = bool (*)(const std::vector<std::string>& arguments, Invocation* out,
                               std::string* problem);

// One row per verb.
struct VerbRow {
  Verb verb;
  const char* name;
  bool needsInstance;  // only the Windows build, an instance of the library, has it
  // Arguments without a verb are this verb's (in a build that has it).
  bool takesBareArguments;
  const char* arguments;      // after "[options]" in its usage line
  const char* listArguments;  // after its name in the tool's command list
  BuildText summary;          // its line in the tool's command list
  // Its --help: the usage line, the description and the details, the
  // options in this order and --help, the closing, and in the instance build
  // the instance note.
  BuildText description;
  const char* details;
  std::vector<VerbOption> options;
  const char* closing;
  const char* instanceNote;
  TakeArguments takeArguments;
  // "unknown option --x for post"; run answers "unknown option --x", as the
  // stand-in host always did.
  bool unknownOptionNamesVerb;
  // Only the native build has it (it links libmosquitto).
  bool nativeOnly = false;
};

bool TakeScript(const std::vector<std::string>& arguments, Invocation* out, std::string* problem) {
  if (arguments.size() > 1) {
    *problem = "only one script may be given";
    return false;
  }
  if (!arguments.empty()) out->run.script = arguments[0];
  return true;
}

bool TakeNameAndMessage(const std::vector<std::string>& arguments, Invocation* out,
                        std::string* problem) {
  VerbOptions& o = out->options;
  if (arguments.size() != 2) {
    *problem = arguments.size() < 2
                   ? "post needs NAME and MESSAGE (MESSAGE - reads standard input)"
                   : "post takes one NAME and one MESSAGE; quote a message that holds blanks";
    return false;
  }
  o.name = arguments[0];
  o.message = arguments[1];
  o.messageFromInput = o.message == "-";
  if (o.lines && !o.messageFromInput) {
    *problem = "--lines needs MESSAGE - (standard input)";
    return false;
  }
  *problem = CheckPostArguments(o);
  return problem->empty();
}

bool TakeNames(const std::vector<std::string>& arguments, Invocation* out, std::string* problem) {
  if (arguments.empty()) {
    *problem = "listen needs at least one NAME";
    return false;
  }
  std::vector<std::string>& names = out->options.names;
  for (const std::string& name : arguments) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return true;
}

bool TakeNothing(const std::vector<std::string>& arguments, Invocation* out, std::string* problem) {
  if (arguments.empty()) return true;
  *problem = std::string(VerbName(out->verb)) + " takes no arguments, not \"" + arguments[0] + "\"";
  return false;
}

// What only the whole command line can tell.
bool TakeGatewaySettings(const std::vector<std::string>& arguments, Invocation* out,
                         std::string* problem) {
  if (!TakeNothing(arguments, out, problem)) return false;
  const GatewayOptions& g = out->options.gateway;
  if (!g.brokerGiven) {
    *problem = "gateway needs --broker mqtt://HOST[:PORT] or mqtts://HOST[:PORT]";
    return false;
  }
  // libmosquitto sends a password only beside a user name.
  if (!g.passwordFile.empty() && g.username.empty()) {
    *problem = "--password-file needs --username";
    return false;
  }
  if (!g.cafile.empty() && !g.broker.tls) {
    *problem = "--cafile needs a TLS broker (mqtts://), not " + g.brokerText;
    return false;
  }
  return true;
}

constexpr char kLibraryHelp[] = "the link library (default: zanvor.fll beside zanvor.exe)";
constexpr char kNetworkAsRunHelp[] =
    "emulate a network for domain-wide mailslots, as zanvor run\n"
    "does (off, local, remote-off, relay:PORT; also ZANVOR_NETWORK)";
constexpr char kNetworkSeeRunHelp[] = "emulate a network for domain-wide mailslots (see run)";

// The verbs, in the order the tool's --help lists them. Adding one is a row
// here and its run function in the builds that have it (RunTool's bindings).
const std::vector<VerbRow>& VerbRows() {
  static const std::vector<VerbRow> rows = {
      {Verb::kRun,
       "run",
       true,
       true,
       "[script.prg | -]",
       "FILE.prg | -",
       {"run a script in the stand-in FoxPro host"},
       {"Runs a script of FoxPro-like commands, from a file or, with \"-\" or no\n"
        "file, from standard input line by line as the lines arrive. Window\n"
        "messages and timers keep running while the host waits for input.\n"},
       "",
       {
           {OptionId::kLibrary, false, "load the link library FILE first (SET LIBRARY TO FILE)"},
           {OptionId::kTable, false, "print the function table of link library FILE and exit"},
           {OptionId::kNoWindow, false, "run without a main window, as a COM server does"},
           {OptionId::kNetwork, false,
            "emulate a network for domain-wide mailslots:\n"
            "off (default), local, remote-off or relay:PORT (also taken from\n"
            "the environment variable ZANVOR_NETWORK)"},
       },
       "\n"
       "Commands:\n"
       "  SET LIBRARY TO file     load a link library (no file: release it)\n"
       "  RELEASE LIBRARY         run its unload function and free it\n"
       "  LIST FUNCTIONS          print the library's function table\n"
       "  ? expr[, expr]          print values\n"
       "  DEBUGOUT expr[, expr]   print values on standard error\n"
       "  =expr                   evaluate, discard the value\n"
       "  DO name [WITH args]     run a procedure of the script, or record the call\n"
       "  DOEVENTS [ms]           pump window messages once, or for ms\n"
       "  READ EVENTS             pump window messages until CLEAR EVENTS\n"
       "  CLEAR EVENTS            end READ EVENTS (from a handler)\n"
       "  PROCEDURE name          define a procedure up to ENDPROC (also FUNCTION,\n"
       "                          ENDFUNC); in a file the main program ends at the\n"
       "                          first one, and all of them can be called from it\n"
       "  LPARAMETERS a, b        name the procedure's arguments (also PARAMETERS)\n"
       "  QUIT                    stop\n"
       "Expressions: \"..\" '..' [..] literals, numbers, .T. .F., + -, variables\n"
       "(a procedure's parameters), CHR(n), LEN(s), REPLICATE(s, n),\n"
       "MESSAGEBOX(text, title, flags), QPC() (the performance counter in\n"
       "microseconds, as a string of digits), RESOURCES() (\"pid=N working_set=N\n"
       "private_bytes=N handles=N gdi=N user=N\" of this process), DESTROYWINDOW()\n"
       "(destroys the main window; the process and the library stay),\n"
       "BINDEVENT(msg) and UNBINDEVENTS() (an event binding on the main window, as\n"
       "FoxPro's: it prints EVENT msg wParam lParam for msg and passes every message\n"
       "on; unbinding puts back what it replaced), SENDMESSAGE(msg, wParam, lParam)\n"
       "(the main window's answer; the host's own procedure answers 32769 with how\n"
       "often it saw it), and the library's functions.\n"
       "\n"
       "Output: ? prints plain text; DO prints DO name([args as JSON]);\n"
       "MESSAGEBOX prints MESSAGEBOX {json}; errors go to standard error as\n"
       "Error: \"text\" or Error N: \"text\".",
       "",
       &TakeScript,
       false},

      {Verb::kPost,
       "post",
       false,
       false,
       "NAME MESSAGE",
       "NAME MESSAGE",
       {"post to every machine (ZANVOR); --local: this machine only",
        "post to every machine of the local subnets"},
       {"Posts MESSAGE under NAME to every machine of the network, as ZANVOR does\n"
        "(the domain mailslot and UDP port {port}), or with --local to every\n"
        "subscriber of this machine, as ZANVOR_LOCAL does.\n",
        "Posts MESSAGE under NAME to every machine of the local subnets: one UDP\n"
        "datagram to port {port} at the broadcast address of every adapter that is\n"
        "up, and at 127.0.0.1.\n"},
       "MESSAGE \"-\" reads standard input: all of it as one message (one final line\n"
       "end dropped), or with --lines one post per line as the lines arrive.\n",
       {
           {OptionId::kLocal, true, "this machine only, through its server instance",
            "post --local needs the Windows build: only an instance of zanvor.fll reaches this "
            "machine's server instance (without --local the post goes over UDP)"},
           {OptionId::kLines, false, "with MESSAGE \"-\": one post per input line"},
           {OptionId::kJson, false, "print one JSON object per post (name, message, scope)"},
           {OptionId::kLibrary, true, kLibraryHelp},
           {OptionId::kNetwork, true, kNetworkAsRunHelp},
           {OptionId::kTimeout, true,
            "how long --local waits for the server instance (default {server_wait},\n"
            "at most {timeout_max})"},
       },
       "\n"
       "Nothing is printed on success without --json. Exit codes: 0 posted, 1 a post\n"
       "failed, 2 usage error.",
       "",
       &TakeNameAndMessage,
       true},

      {Verb::kListen,
       "listen",
       false,
       false,
       "NAME...",
       "NAME...",
       {"print each message posted under the names as it arrives"},
       {"Subscribes the names as a FoxPro program does and prints each message\n"
        "posted under them as it arrives, from this machine and from the network.\n",
        "Listens on UDP port {port} (with SO_REUSEADDR, beside other listeners) and\n"
        "prints each message posted under the names as it arrives from the network.\n"},
       "Plain output is one line per message: NAME, a tab, MESSAGE, with \\\\, \\\", \\t,\n"
       "\\r, \\n and other control bytes (\\xNN) escaped.\n",
       {
           {OptionId::kCount, false, "end after N messages"},
           {OptionId::kTimeout, false,
            "end after SECONDS (at most {timeout_max}, about {timeout_max_days} days)"},
           {OptionId::kJson, false, "one JSON object per message: name, message, arrived (UTC)"},
           {OptionId::kLibrary, true, kLibraryHelp},
           {OptionId::kNetwork, true, kNetworkAsRunHelp},
       },
       "\n"
       "JSON strings hold one code point per byte of the text (\\u0080 to \\u00ff for\n"
       "bytes 0x80 to 0xFF), so the exact bytes come back by reading them as Latin-1.\n"
       "\n"
       "Ctrl+C ends it cleanly. Exit codes: 0 ended by --count, --timeout or Ctrl+C,\n"
       "1 --timeout passed before --count messages came, 2 usage error.",
       "\nA warning goes to standard error when texts for this listener were\n"
       "overwritten in the machine's ring before it read them.",
       &TakeNames,
       true},

      {Verb::kStatus,
       "status",
       true,
       false,
       "",
       "",
       {"this machine's server instance, network paths and counters"},
       {"Shows this machine's picture: the server instance (its window and process),\n"
        "the names and subscriber entries of its table, the ring's next position,\n"
        "which network paths are open (the domain mailslot, the server's UDP socket,\n"
        "every adapter that is up with its broadcast address), the server's\n"
        "counters of what it received, and every instance as it answers for itself\n"
        "(window, process, the server it knows, its names, its dropped texts).\n"
        "Loads no library: an instance of its own would take the server role where\n"
        "none runs.\n"},
       "",
       {
           {OptionId::kJson, false, "one JSON object"},
           {OptionId::kNetwork, false, kNetworkSeeRunHelp},
           {OptionId::kTimeout, false,
            "how long to wait for the instances' answers (default {status_wait},\n"
            "at most {timeout_max})"},
       },
       "\n"
       "Exit codes: 0 shown (with or without a server), 2 usage error.",
       "",
       &TakeNothing,
       true},

      {Verb::kDoctor,
       "doctor",
       true,
       false,
       "",
       "",
       {"the checks of a support call, each with its fix"},
       {"Runs the checks of a support call and prints, for each, what it found and\n"
        "the command or setting that fixes it: a local post round trip through the\n"
        "server instance, a network post to this machine over each path (the domain\n"
        "mailslot, UDP to every adapter's broadcast address and to 127.0.0.1), the\n"
        "firewall's rules for UDP port {port} on the active profile (a block rule wins\n"
        "over allow rules) and the remote-mailslot policy.\n"},
       "",
       {
           {OptionId::kJson, false, "one JSON object per check: check, result, found, fix"},
           {OptionId::kTimeout, false,
            "how long each post may take to arrive (default {server_wait}, at most\n"
            "{timeout_max})"},
           {OptionId::kLibrary, false, kLibraryHelp},
           {OptionId::kNetwork, false, kNetworkSeeRunHelp},
       },
       "\n"
       "Results are ok, warn (works, with a limit) and fail. Ctrl+C ends the run\n"
       "where it is, with a last result stop (cut short; the checks after it did\n"
       "not run). Exit codes: 0 no check failed, 1 a check failed or the run was\n"
       "cut short, 2 usage error.",
       "",
       &TakeNothing,
       true},

      {Verb::kGateway,
       "gateway",
       false,
       false,
       "--broker URL",
       "--broker URL",
       {"join this network segment to others through an MQTT broker"},
       {"Joins this network segment to an MQTT broker: every post heard on UDP port\n"
        "{port} whose name a filter takes is published as PREFIX + name (UTF-8;\n"
        "%, +, # and control characters as %XX) with the message as payload and the\n"
        "post's id in the MQTT 5 user property zanvor-id; every message published\n"
        "under the prefix is broadcast on the LAN as ZANVOR posts it. Gateways of\n"
        "one segment share a subscription (--site), so each message reaches a\n"
        "segment once.\n"},
       "\nURL is mqtt://HOST[:PORT] (default port 1883) or mqtts://HOST[:PORT] (TLS,\n"
       "default port 8883). Plain mqtt:// to a host outside loopback, the private\n"
       "ranges and link-local needs --insecure.\n",
       {
           {OptionId::kBroker, false, "the broker (required)"},
           {OptionId::kNames, false,
            "the names that cross, as MQTT filters relative to the\n"
            "prefix (default #: all)"},
           {OptionId::kTopicPrefix, false, "the topics' prefix (default zanvor/)"},
           {OptionId::kUsername, false, "the broker's user name"},
           {OptionId::kPasswordFile, false,
            "read the password from the first line of FILE (never\n"
            "from the command line)"},
           {OptionId::kCafile, false,
            "with mqtts://: trust the CAs of FILE (default: the\n"
            "system's CA store)"},
           {OptionId::kClientId, false, "the MQTT client id (default: one the broker makes)"},
           {OptionId::kSite, false,
            "this segment's name, the same for all its gateways\n"
            "(default: net-NETWORK-PREFIX of its lowest LAN subnet)"},
           {OptionId::kLan, false,
            "receive and broadcast on these interfaces only (default:\n"
            "every one that is up, not loopback, prefix /30 or shorter)"},
           {OptionId::kCharset, false,
            "the FoxPro machines' ANSI code page (default windows-1252)"},
           {OptionId::kStatsInterval, false,
            "print the counters every SECONDS (1 to 86400, default 60)\n"
            "and on SIGUSR1"},
           {OptionId::kInsecure, false, "allow mqtt:// (no TLS) to any address"},
           {OptionId::kJson, false, "one JSON object per event on standard output"},
       },
       "\n"
       "A line goes to standard error at start, at every connect and disconnect, and\n"
       "with the counters (published, broadcast, reconnects, dropped by reason).\n"
       "A lost broker is tried again after 1 s, doubling to 30 s, forever; posts\n"
       "from the LAN meanwhile are dropped and counted (no queue). SIGINT and\n"
       "SIGTERM end it cleanly. Exit codes: 0 ended by a signal, 1 the broker\n"
       "refused the login or TLS failed, or the LAN port could not be opened, 2\n"
       "usage error.",
       "",
       &TakeGatewaySettings,
       true,
       true},
  };
  return rows;
}

const VerbRow* RowOf(Verb verb) {
  for (const VerbRow& row : VerbRows()) {
    if (row.verb == verb) return &row;
  }
  return nullptr;
}

const VerbRow* RowNamed(const std::string& name) {
  for (const VerbRow& row : VerbRows()) {
    if (name == row.name) return &row;
  }
  return nullptr;
}

bool Has(const ToolCapabilities& capabilities, const VerbRow& row) {
  return capabilities.instance ? !row.nativeOnly : !row.needsInstance;
}

bool Offers(const ToolCapabilities& capabilities, const VerbOption& option) {
  return capabilities.instance || !option.instanceOnly;
}

// The verbs of this build, "a, b, c or d" (`last` " or ") or "a and b".
std::string VerbList(const ToolCapabilities& capabilities, const char* last) {
  std::vector<const char*> names;
  for (const VerbRow& row : VerbRows()) {
    if (Has(capabilities, row)) names.push_back(row.name);
  }
  std::string list;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) list += i + 1 == names.size() ? last : ", ";
    list += names[i];
  }
  return list;
}

const VerbRow* BareArgumentsVerb(const ToolCapabilities& capabilities) {
  for (const VerbRow& row : VerbRows()) {
    if (row.takesBareArguments && Has(capabilities, row)) return &row;
  }
  return nullptr;
}

std::string VerbUsage(const VerbRow& row, const ToolCapabilities& capabilities) {
  std::string text = std::string("Usage: zanvor ") + row.name + " [options]";
  if (*row.arguments != 0) text += std::string(" ") + row.arguments;
  text += std::string("\n\n") + row.description.Of(capabilities) + row.details + "\nOptions:\n";
  for (const VerbOption& option : row.options) {
    if (Offers(capabilities, option)) {
      text += HelpLine(OptionLabel(OptionOf(option.id)), option.help, kOptionColumn);
    }
  }
  text += HelpLine("--help", "show this text", kOptionColumn);
  text += row.closing;
  if (capabilities.instance) text += row.instanceNote;
  return Fill(text);
}

std::string ToolUsage(const ToolCapabilities& capabilities) {
  std::string text = std::string("Usage: zanvor COMMAND [options] [arguments]\n\n") +
                     kToolAbout.Of(capabilities) + "\nCommands:\n";
  for (const VerbRow& row : VerbRows()) {
    if (!Has(capabilities, row)) continue;
    std::string synopsis = row.name;
    if (*row.listArguments != 0) synopsis += std::string(" ") + row.listArguments;
    text += HelpLine(synopsis, row.summary.Of(capabilities), kCommandColumn);
  }
  text += std::string("\n") + kToolNotes.Of(capabilities) +
          "\nExit codes: 0 success, 1 the operation failed, 2 usage error.";
  return Fill(text);
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h" || arg == "/?"; }

// What the first argument of an invocation without a verb may look like:
// an option or "-" (standard input), or a script's path.
bool LooksLikeBareArgument(const std::string& arg) {
  return (!arg.empty() && arg[0] == '-') || arg.find_first_of(".\\/:") != std::string::npos;
}

// One verb's options and arguments. Every option a verb does not know is a
// usage error, so that a misspelt option never reads as an argument.
class VerbParser {
 public:
  VerbParser(const VerbRow& row, const ToolCapabilities& capabilities,
             const std::vector<std::string>& args, size_t first, Invocation* out,
             std::string* error)
      : row_(row),
        capabilities_(capabilities),
        args_(args),
        next_(first),
        out_(out),
        error_(error) {}

  bool Parse() {
    std::vector<std::string> arguments;
    bool optionsEnded = false;
    while (next_ < args_.size()) {
      const std::string arg = args_[next_++];
      if (!optionsEnded && arg == "--") {
        optionsEnded = true;
      } else if (!optionsEnded && IsHelp(arg)) {
        out_->help = true;
      } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
        if (!Option(arg)) return false;
      } else {
        arguments.push_back(arg);
      }
    }
    if (out_->help) return true;
    std::string problem;
    return row_.takeArguments(arguments, out_, &problem) || Fail(problem);
  }

 private:
  bool Fail(const std::string& text) {
    *error_ = text + " (see zanvor " + row_.name + " --help)";
    return false;
  }

  bool Option(const std::string& arg) {
    for (const VerbOption& entry : row_.options) {
      const OptionRow& option = OptionOf(entry.id);
      if (arg != option.name) continue;
      if (!Offers(capabilities_, entry)) {
        if (entry.absent == nullptr) break;
        *error_ = entry.absent;
        return false;
      }
      std::string value;
      if (option.value != nullptr) {
        if (next_ >= args_.size()) return Fail(arg + " needs a value");
        value = args_[next_++];
      }
      std::string problem;
      return option.take(value, out_, &problem) || Fail(problem);
    }
    return Fail("unknown option " + arg +
                (row_.unknownOptionNamesVerb ? std::string(" for ") + row_.name : ""));
  }

  const VerbRow& row_;
  const ToolCapabilities& capabilities_;
  const std::vector<std::string>& args_;
  size_t next_;
  Invocation* out_;
  std::string* error_;
};

}  // namespace

uint32_t TimeoutMilliseconds(const VerbOptions& options, double defaultSeconds) {
  double seconds = options.timeoutSeconds > 0 ? options.timeoutSeconds : defaultSeconds;
  // The parser refuses more; a caller's default must not wrap either.
  if (seconds > kMaxTimeoutSeconds) seconds = kMaxTimeoutSeconds;
  return static_cast<uint32_t>(seconds * 1000 + 0.5);
}

const char* VerbName(Verb verb) {
  const VerbRow* row = RowOf(verb);
  return row == nullptr ? "zanvor" : row->name;
}

bool ParseCommandLine(const std::vector<std::string>& args, const ToolCapabilities& capabilities,
                      Invocation* out, std::string* error) {
  *out = Invocation();
  const VerbRow* bare = BareArgumentsVerb(capabilities);
  if (args.empty()) {
    if (bare != nullptr) {
      // The stand-in host's old invocation: a script from standard input.
      out->verb = bare->verb;
      return true;
    }
    *error = "a command is needed: " + VerbList(capabilities, " or ") + " (see zanvor --help)";
    return false;
  }
  if (IsHelp(args[0])) {
    out->help = true;
    return true;
  }
  const VerbRow* row = RowNamed(args[0]);
  size_t first = 1;
  if (row == nullptr) {
    if (bare == nullptr || !LooksLikeBareArgument(args[0])) {
      *error = "unknown command \"" + args[0] + "\" (" + VerbList(capabilities, " or ") +
               "; see zanvor --help)";
      return false;
    }
    row = bare;
    first = 0;
  }
  out->verb = row->verb;
  if (!Has(capabilities, *row) && row->nativeOnly) {
    *error = std::string(row->name) +
             " needs the native Linux build of zanvor (it runs in WSL too); this build has " +
             VerbList(capabilities, " and ") + " (see zanvor --help)";
    return false;
  }
  if (!Has(capabilities, *row)) {
    *error = std::string(row->name) +
             " needs the Windows build, which runs an instance of zanvor.fll; this build has " +
             VerbList(capabilities, " and ") + " over UDP (see zanvor --help)";
    return false;
  }
  VerbParser parser(*row, capabilities, args, first, out, error);
  return parser.Parse();
}

std::string UsageText(Verb verb, const ToolCapabilities& capabilities) {
  const VerbRow* row = RowOf(verb);
  return row == nullptr ? ToolUsage(capabilities) : VerbUsage(*row, capabilities);
}

bool ParseOrAnswer(const std::vector<std::string>& args, const ToolCapabilities& capabilities,
                   ToolOutput& out, Invocation* invocation, int* exitCode) {
  std::string error;
  if (!ParseCommandLine(args, capabilities, invocation, &error)) {
    out.Err("zanvor: " + error);
    *exitCode = kExitUsage;
    return false;
  }
  if (invocation->help) {
    out.Out(UsageText(invocation->verb, capabilities));
    *exitCode = kExitSuccess;
    return false;
  }
  return true;
}

int RunTool(int argc, char** argv, const ToolCapabilities& capabilities,
            std::initializer_list<VerbBinding> verbs, ToolOutput& out) {
  // Nothing may escape main into the C runtime's frames either.
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    Invocation invocation;
    int exitCode = kExitSuccess;
    if (!ParseOrAnswer(args, capabilities, out, &invocation, &exitCode)) return exitCode;
    for (const VerbBinding& binding : verbs) {
      if (binding.verb == invocation.verb) return binding.run(invocation, out);
    }
    out.Err("zanvor: this build has " + VerbList(capabilities, " and ") +
            " only (see zanvor --help)");
    return kExitUsage;
  } catch (...) {
    out.Err("zanvor: out of memory");
    return kExitFailure;
  }
}

}  // namespace zanvor
