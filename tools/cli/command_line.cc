#include "cli/command_line.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zanvor {
namespace {

constexpr char kToolUsageInstance[] =
    "Usage: zanvor COMMAND [options] [arguments]\n"
    "\n"
    "Posts and receives zanvor messages as a FoxPro program with zanvor.fll\n"
    "does, and shows and checks this machine's part of the system.\n"
    "\n"
    "Commands:\n"
    "  run FILE.prg | -      run a script in the stand-in FoxPro host\n"
    "  post NAME MESSAGE     post to every machine (ZANVOR); --local: this machine only\n"
    "  listen NAME...        print each message posted under the names as it arrives\n"
    "  status                this machine's server instance, network paths and counters\n"
    "  doctor                the checks of a support call, each with its fix\n"
    "\n"
    "\"zanvor COMMAND --help\" shows a command's options. Without a command the\n"
    "arguments are run's (zanvor script.prg, zanvor -).\n"
    "\n"
    "post, listen, status and doctor load zanvor.fll from beside zanvor.exe (or\n"
    "--library FILE) with the host's main window, as a FoxPro program does.\n"
    "\n"
    "Exit codes: 0 success, 1 the operation failed, 2 usage error.";

constexpr char kToolUsageNative[] =
    "Usage: zanvor COMMAND [options] [arguments]\n"
    "\n"
    "Posts and receives zanvor messages over UDP port 38217, the network path\n"
    "every machine's server instance listens on.\n"
    "\n"
    "Commands:\n"
    "  post NAME MESSAGE     post to every machine of the local subnets\n"
    "  listen NAME...        print each message posted under the names as it arrives\n"
    "\n"
    "\"zanvor COMMAND --help\" shows a command's options. run, status, doctor and\n"
    "post --local run an instance of zanvor.fll: they need the Windows build.\n"
    "\n"
    "Exit codes: 0 success, 1 the operation failed, 2 usage error.";

constexpr char kRunUsage[] =
    "Usage: zanvor run [options] [script.prg | -]\n"
    "\n"
    "Runs a script of FoxPro-like commands, from a file or, with \"-\" or no\n"
    "file, from standard input line by line as the lines arrive. Window\n"
    "messages and timers keep running while the host waits for input.\n"
    "\n"
    "Options:\n"
    "  --library FILE     load the link library FILE first (SET LIBRARY TO FILE)\n"
    "  --table FILE       print the function table of link library FILE and exit\n"
    "  --no-window        run without a main window, as a COM server does\n"
    "  --network MODE     emulate a network for domain-wide mailslots:\n"
    "                     off (default), local, remote-off or relay:PORT (also taken from\n"
    "                     the environment variable ZANVOR_NETWORK)\n"
    "  --help             show this text\n"
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
    "Error: \"text\" or Error N: \"text\".";

constexpr char kInstanceOptions[] =
    "  --library FILE     the link library (default: zanvor.fll beside zanvor.exe)\n"
    "  --network MODE     emulate a network for domain-wide mailslots, as zanvor run\n"
    "                     does (off, local, remote-off, relay:PORT; also ZANVOR_NETWORK)\n";

constexpr char kJsonNote[] =
    "JSON strings hold one code point per byte of the text (\\u0080 to \\u00ff for\n"
    "bytes 0x80 to 0xFF), so the exact bytes come back by reading them as Latin-1.\n";

std::string PostUsage(bool instance) {
  std::string text =
      "Usage: zanvor post [options] NAME MESSAGE\n"
      "\n";
  text += instance ? "Posts MESSAGE under NAME to every machine of the network, as ZANVOR does\n"
                     "(the domain mailslot and UDP port 38217), or with --local to every\n"
                     "subscriber of this machine, as ZANVOR_LOCAL does.\n"
                   : "Posts MESSAGE under NAME to every machine of the local subnets: one UDP\n"
                     "datagram to port 38217 at the broadcast address of every adapter that is\n"
                     "up, and at 127.0.0.1.\n";
  text +=
      "MESSAGE \"-\" reads standard input: all of it as one message (one final line\n"
      "end dropped), or with --lines one post per line as the lines arrive.\n"
      "\n"
      "Options:\n";
  if (instance) text += "  --local            this machine only, through its server instance\n";
  text +=
      "  --lines            with MESSAGE \"-\": one post per input line\n"
      "  --json             print one JSON object per post (name, message, scope)\n";
  if (instance) {
    text += kInstanceOptions;
    text +=
        "  --timeout SECONDS  how long --local waits for the server instance (default 5,\n"
        "                     at most 4294967)\n";
  }
  text +=
      "  --help             show this text\n"
      "\n"
      "Nothing is printed on success without --json. Exit codes: 0 posted, 1 a post\n"
      "failed, 2 usage error.";
  return text;
}

std::string ListenUsage(bool instance) {
  std::string text =
      "Usage: zanvor listen [options] NAME...\n"
      "\n";
  text += instance ? "Subscribes the names as a FoxPro program does and prints each message\n"
                     "posted under them as it arrives, from this machine and from the network.\n"
                   : "Listens on UDP port 38217 (with SO_REUSEADDR, beside other listeners) and\n"
                     "prints each message posted under the names as it arrives from the network.\n";
  text +=
      "Plain output is one line per message: NAME, a tab, MESSAGE, with \\\\, \\\", \\t,\n"
      "\\r, \\n and other control bytes (\\xNN) escaped.\n"
      "\n"
      "Options:\n"
      "  --count N          end after N messages\n"
      "  --timeout SECONDS  end after SECONDS (at most 4294967, about 49 days)\n"
      "  --json             one JSON object per message: name, message, arrived (UTC)\n";
  if (instance) text += kInstanceOptions;
  text += "  --help             show this text\n\n";
  text += kJsonNote;
  text +=
      "\n"
      "Ctrl+C ends it cleanly. Exit codes: 0 ended by --count, --timeout or Ctrl+C,\n"
      "1 --timeout passed before --count messages came, 2 usage error.";
  if (instance) {
    text +=
        "\nA warning goes to standard error when texts for this listener were\n"
        "overwritten in the machine's ring before it read them.";
  }
  return text;
}

constexpr char kStatusUsage[] =
    "Usage: zanvor status [options]\n"
    "\n"
    "Shows this machine's picture: the server instance (its window and process),\n"
    "the names and subscriber entries of its table, the ring's next position,\n"
    "which network paths are open (the domain mailslot, the server's UDP socket,\n"
    "every adapter that is up with its broadcast address), the server's\n"
    "counters of what it received, and every instance as it answers for itself\n"
    "(window, process, the server it knows, its names, its dropped texts).\n"
    "Loads no library: an instance of its own would take the server role where\n"
    "none runs.\n"
    "\n"
    "Options:\n"
    "  --json             one JSON object\n"
    "  --network MODE     emulate a network for domain-wide mailslots (see run)\n"
    "  --timeout SECONDS  how long to wait for the instances' answers (default 3,\n"
    "                     at most 4294967)\n"
    "  --help             show this text\n"
    "\n"
    "Exit codes: 0 shown (with or without a server), 2 usage error.";

constexpr char kDoctorUsage[] =
    "Usage: zanvor doctor [options]\n"
    "\n"
    "Runs the checks of a support call and prints, for each, what it found and\n"
    "the command or setting that fixes it: a local post round trip through the\n"
    "server instance, a network post to this machine over each path (the domain\n"
    "mailslot, UDP to every adapter's broadcast address and to 127.0.0.1), the\n"
    "firewall's rules for UDP port 38217 on the active profile (a block rule wins\n"
    "over allow rules) and the remote-mailslot policy.\n"
    "\n"
    "Options:\n"
    "  --json             one JSON object per check: check, result, found, fix\n"
    "  --timeout SECONDS  how long each post may take to arrive (default 5, at most\n"
    "                     4294967)\n"
    "  --library FILE     the link library (default: zanvor.fll beside zanvor.exe)\n"
    "  --network MODE     emulate a network for domain-wide mailslots (see run)\n"
    "  --help             show this text\n"
    "\n"
    "Results are ok, warn (works, with a limit) and fail. Ctrl+C ends the run\n"
    "where it is, with a last result stop (cut short; the checks after it did\n"
    "not run). Exit codes: 0 no check failed, 1 a check failed or the run was\n"
    "cut short, 2 usage error.";

struct VerbEntry {
  const char* name;
  Verb verb;
};

const VerbEntry kVerbs[] = {
    {"run", Verb::kRun},       {"post", Verb::kPost},     {"listen", Verb::kListen},
    {"status", Verb::kStatus}, {"doctor", Verb::kDoctor},
};

bool NeedsInstance(Verb verb) {
  return verb == Verb::kRun || verb == Verb::kStatus || verb == Verb::kDoctor;
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h" || arg == "/?"; }

// What the first argument of an invocation without a verb may look like:
// an option or "-" (standard input), or a script's path.
bool LooksLikeRunArgument(const std::string& arg) {
  return (!arg.empty() && arg[0] == '-') || arg.find_first_of(".\\/:") != std::string::npos;
}

std::string SeeHelp(Verb verb) {
  return std::string(" (see zanvor ") + VerbName(verb) + " --help)";
}

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

// One verb's options and arguments. Every option a verb does not know is a
// usage error, so that a misspelt option never reads as an argument.
class VerbParser {
 public:
  VerbParser(Verb verb, const ToolCapabilities& capabilities, const std::vector<std::string>& args,
             size_t first, Invocation* out, std::string* error)
      : verb_(verb),
        capabilities_(capabilities),
        args_(args),
        next_(first),
        out_(out),
        error_(error) {}

  bool Parse() {
    std::vector<std::string> positional;
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
        positional.push_back(arg);
      }
    }
    if (out_->help) return true;
    return Positional(positional);
  }

 private:
  bool Fail(const std::string& text) {
    *error_ = text + SeeHelp(verb_);
    return false;
  }

  bool Value(const std::string& option, std::string* value) {
    if (next_ >= args_.size()) return Fail(option + " needs a value");
    *value = args_[next_++];
    return true;
  }

  bool Is(const std::string& arg, const char* option, std::initializer_list<Verb> verbs) {
    return arg == option && std::find(verbs.begin(), verbs.end(), verb_) != verbs.end();
  }

  bool Option(const std::string& arg) {
    VerbOptions& o = out_->options;
    RunOptions& run = out_->run;
    const bool instance = capabilities_.instance;
    std::string value;
    if (verb_ == Verb::kRun) {
      if (arg == "--table") return Value(arg, &run.table);
      if (arg == "--no-window") {
        run.noWindow = true;
        return true;
      }
      if (arg == "--library") return Value(arg, &run.library);
      if (arg == "--network") {
        run.networkGiven = true;
        return Value(arg, &run.network);
      }
      // The stand-in host always answered an unknown option this way.
      return Fail("unknown option " + arg);
    }
    if (Is(arg, "--json", {Verb::kPost, Verb::kListen, Verb::kStatus, Verb::kDoctor})) {
      o.json = true;
      return true;
    }
    if (Is(arg, "--timeout", {Verb::kPost, Verb::kListen, Verb::kStatus, Verb::kDoctor}) &&
        (instance || verb_ == Verb::kListen)) {
      if (!Value(arg, &value)) return false;
      switch (ParseSeconds(value, &o.timeoutSeconds)) {
        case SecondsParse::kOk:
          return true;
        case SecondsParse::kNotSeconds:
          return Fail("--timeout takes a number of seconds above 0, not \"" + value + "\"");
        case SecondsParse::kTooLong:
          break;
      }
      return Fail("--timeout takes at most 4294967 seconds (about 49 days), not \"" + value + "\"");
    }
    if (Is(arg, "--count", {Verb::kListen})) {
      if (!Value(arg, &value)) return false;
      if (!ParseCount(value, &o.count)) {
        return Fail("--count takes a whole number above 0, not \"" + value + "\"");
      }
      return true;
    }
    if (Is(arg, "--lines", {Verb::kPost})) {
      o.lines = true;
      return true;
    }
    if (Is(arg, "--local", {Verb::kPost})) {
      if (!instance) {
        *error_ =
            "post --local needs the Windows build: only an instance of zanvor.fll reaches this "
            "machine's server instance (without --local the post goes over UDP)";
        return false;
      }
      o.local = true;
      return true;
    }
    if (instance && Is(arg, "--library", {Verb::kPost, Verb::kListen, Verb::kDoctor})) {
      return Value(arg, &o.library);
    }
    if (instance &&
        Is(arg, "--network", {Verb::kPost, Verb::kListen, Verb::kStatus, Verb::kDoctor})) {
      o.networkGiven = true;
      return Value(arg, &o.network);
    }
    return Fail("unknown option " + arg + " for " + VerbName(verb_));
  }

  bool Positional(const std::vector<std::string>& positional) {
    VerbOptions& o = out_->options;
    switch (verb_) {
      case Verb::kRun:
        if (positional.size() > 1) return Fail("only one script may be given");
        if (!positional.empty()) out_->run.script = positional[0];
        return true;
      case Verb::kPost:
        if (positional.size() != 2) {
          return Fail(positional.size() < 2 ? "post needs NAME and MESSAGE (MESSAGE - reads "
                                              "standard input)"
                                            : "post takes one NAME and one MESSAGE; quote a "
                                              "message that holds blanks");
        }
        o.name = positional[0];
        o.message = positional[1];
        o.messageFromInput = o.message == "-";
        if (o.lines && !o.messageFromInput) return Fail("--lines needs MESSAGE - (standard input)");
        return true;
      case Verb::kListen:
        if (positional.empty()) return Fail("listen needs at least one NAME");
        for (const std::string& name : positional) {
          if (std::find(o.names.begin(), o.names.end(), name) == o.names.end()) {
            o.names.push_back(name);
          }
        }
        return true;
      case Verb::kStatus:
      case Verb::kDoctor:
        if (!positional.empty()) {
          return Fail(std::string(VerbName(verb_)) + " takes no arguments, not \"" + positional[0] +
                      "\"");
        }
        return true;
      case Verb::kNone:
        break;
    }
    return true;
  }

  Verb verb_;
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
  for (const VerbEntry& entry : kVerbs) {
    if (entry.verb == verb) return entry.name;
  }
  return "zanvor";
}

bool ParseCommandLine(const std::vector<std::string>& args, const ToolCapabilities& capabilities,
                      Invocation* out, std::string* error) {
  *out = Invocation();
  if (args.empty()) {
    if (capabilities.instance) {
      // The stand-in host's old invocation: a script from standard input.
      out->verb = Verb::kRun;
      return true;
    }
    *error = "a command is needed: post or listen (see zanvor --help)";
    return false;
  }
  if (IsHelp(args[0])) {
    out->help = true;
    return true;
  }
  size_t first = 1;
  for (const VerbEntry& entry : kVerbs) {
    if (args[0] == entry.name) out->verb = entry.verb;
  }
  if (out->verb == Verb::kNone) {
    if (!capabilities.instance || !LooksLikeRunArgument(args[0])) {
      *error = "unknown command \"" + args[0] + "\" (" +
               (capabilities.instance ? "run, post, listen, status or doctor" : "post or listen") +
               "; see zanvor --help)";
      return false;
    }
    out->verb = Verb::kRun;
    first = 0;
  }
  if (!capabilities.instance && NeedsInstance(out->verb)) {
    *error = std::string(VerbName(out->verb)) +
             " needs the Windows build, which runs an instance of zanvor.fll; this build "
             "has post and listen over UDP (see zanvor --help)";
    return false;
  }
  VerbParser parser(out->verb, capabilities, args, first, out, error);
  return parser.Parse();
}

std::string UsageText(Verb verb, const ToolCapabilities& capabilities) {
  const bool instance = capabilities.instance;
  switch (verb) {
    case Verb::kRun:
      return kRunUsage;
    case Verb::kPost:
      return PostUsage(instance);
    case Verb::kListen:
      return ListenUsage(instance);
    case Verb::kStatus:
      return kStatusUsage;
    case Verb::kDoctor:
      return kDoctorUsage;
    case Verb::kNone:
      break;
  }
  return instance ? kToolUsageInstance : kToolUsageNative;
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

}  // namespace zanvor
