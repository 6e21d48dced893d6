#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "cli/recording_output.h"

namespace zanvor {
namespace {

const ToolCapabilities kWindows{true};
const ToolCapabilities kNative{false};

Invocation Parse(const std::vector<std::string>& args, const ToolCapabilities& caps = kWindows) {
  Invocation invocation;
  std::string error;
  EXPECT_TRUE(ParseCommandLine(args, caps, &invocation, &error)) << error;
  return invocation;
}

std::string UsageError(const std::vector<std::string>& args,
                       const ToolCapabilities& caps = kWindows) {
  Invocation invocation;
  std::string error;
  EXPECT_FALSE(ParseCommandLine(args, caps, &invocation, &error));
  EXPECT_FALSE(error.empty());
  return error;
}

TEST(CommandLineTest, VerbsTakeTheirOptionsAnywhereAmongTheirArguments) {
  const Invocation post = Parse({"post", "orders", "--local", "-", "--lines", "--json", "--timeout",
                                 "1.5", "--library", "x.fll", "--network", "local"});
  EXPECT_EQ(post.verb, Verb::kPost);
  EXPECT_TRUE(post.options.local && post.options.lines && post.options.json);
  EXPECT_TRUE(post.options.messageFromInput);
  EXPECT_EQ(post.options.name, "orders");
  EXPECT_EQ(post.options.timeoutSeconds, 1.5);
  EXPECT_EQ(post.options.library, "x.fll");
  EXPECT_EQ(post.options.network, "local");

  const Invocation listen = Parse({"listen", "a", "--count", "3", "b", "a", "--timeout", "2"});
  EXPECT_EQ(listen.verb, Verb::kListen);
  EXPECT_EQ(listen.options.names, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(listen.options.count, 3u);
  EXPECT_EQ(listen.options.timeoutSeconds, 2);

  // "--" ends the options: a message may look like one.
  const Invocation dashed = Parse({"post", "--", "temperature", "-5"});
  EXPECT_EQ(dashed.options.message, "-5");
  EXPECT_FALSE(dashed.options.messageFromInput);

  EXPECT_TRUE(Parse({"status", "--json"}).options.json);
  EXPECT_EQ(Parse({"doctor", "--timeout", "9"}).options.timeoutSeconds, 9);
}

TEST(CommandLineTest, WithoutAVerbTheArgumentsAreRuns) {
  const Invocation script = Parse({"--library", "zanvor.fll", "Z:\\tmp\\script.prg"});
  EXPECT_EQ(script.verb, Verb::kRun);
  EXPECT_EQ(script.run.library, "zanvor.fll");
  EXPECT_EQ(script.run.script, "Z:\\tmp\\script.prg");
  EXPECT_EQ(Parse({"--network", "relay:4000", "-"}).run.network, "relay:4000");
  EXPECT_TRUE(Parse({"--network", "off", "-"}).run.networkGiven);
  EXPECT_EQ(Parse({}).verb, Verb::kRun);  // a script from standard input
  EXPECT_EQ(Parse({"run", "--table", "zanvor.fll"}).run.table, "zanvor.fll");
  EXPECT_TRUE(Parse({"run", "--no-window", "-"}).run.noWindow);
  EXPECT_FALSE(Parse({"-"}).run.noWindow);
  // The host's answer to an option it does not know, kept word for word.
  EXPECT_EQ(UsageError({"--bogus"}), "unknown option --bogus (see zanvor run --help)");
  // A bare word is a mistyped command, not a script.
  EXPECT_EQ(UsageError({"psot", "a", "b"}),
            "unknown command \"psot\" (run, post, listen, status or doctor; see zanvor --help)");
}

TEST(CommandLineTest, UsageErrorsSayWhatWasWrongAndWhereToLook) {
  EXPECT_EQ(UsageError({"post", "orders"}),
            "post needs NAME and MESSAGE (MESSAGE - reads standard input) (see zanvor post "
            "--help)");
  EXPECT_NE(UsageError({"post", "a", "b", "c"}).find("quote a message"), std::string::npos);
  EXPECT_EQ(UsageError({"post", "a", "b", "--lines"}),
            "--lines needs MESSAGE - (standard input) (see zanvor post --help)");
  EXPECT_EQ(UsageError({"listen"}), "listen needs at least one NAME (see zanvor listen --help)");
  EXPECT_EQ(UsageError({"listen", "a", "--count", "0"}),
            "--count takes a whole number above 0, not \"0\" (see zanvor listen --help)");
  EXPECT_EQ(UsageError({"listen", "a", "--timeout", "soon"}),
            "--timeout takes a number of seconds above 0, not \"soon\" (see zanvor listen --help)");
  EXPECT_EQ(UsageError({"listen", "a", "--timeout"}),
            "--timeout needs a value (see zanvor listen --help)");
  EXPECT_EQ(UsageError({"status", "--local"}),
            "unknown option --local for status (see zanvor status --help)");
  EXPECT_EQ(UsageError({"doctor", "now"}),
            "doctor takes no arguments, not \"now\" (see zanvor doctor --help)");
  EXPECT_EQ(UsageError({"run", "a.prg", "b.prg"}),
            "only one script may be given (see zanvor run --help)");
}

// The Windows verbs wait in milliseconds of 32 bits: 4,294,967 s is the
// longest wait they can count, and a longer one would wrap to a short one.
TEST(CommandLineTest, TimeoutIsBoundedByTheLongestWaitTheToolCanCount) {
  for (const ToolCapabilities& caps : {kWindows, kNative}) {
    EXPECT_EQ(Parse({"listen", "a", "--timeout", "4294967"}, caps).options.timeoutSeconds,
              kMaxTimeoutSeconds);
    EXPECT_EQ(UsageError({"listen", "a", "--timeout", "4294967.3"}, caps),
              "--timeout takes at most 4294967 seconds (about 49 days), not \"4294967.3\" (see "
              "zanvor listen --help)");
  }
  EXPECT_NE(UsageError({"doctor", "--timeout", "5e6"}).find("at most 4294967 seconds"),
            std::string::npos);
  VerbOptions longest;
  longest.timeoutSeconds = kMaxTimeoutSeconds;
  EXPECT_EQ(TimeoutMilliseconds(longest, 5), 4294967000u);
  EXPECT_EQ(TimeoutMilliseconds(VerbOptions(), 5), 5000u);
  for (const ToolCapabilities& caps : {kWindows, kNative}) {
    EXPECT_NE(UsageText(Verb::kListen, caps).find("at most 4294967"), std::string::npos);
  }
}

TEST(CommandLineTest, TheNativeBuildHasTheNetworkVerbsOnly) {
  EXPECT_EQ(Parse({"post", "a", "b"}, kNative).verb, Verb::kPost);
  EXPECT_EQ(Parse({"listen", "a", "--timeout", "1"}, kNative).options.timeoutSeconds, 1);
  for (const char* verb : {"status", "doctor", "run"}) {
    EXPECT_NE(UsageError({verb}, kNative).find("needs the Windows build"), std::string::npos);
  }
  EXPECT_NE(UsageError({"post", "--local", "a", "b"}, kNative).find("needs the Windows build"),
            std::string::npos);
  EXPECT_EQ(UsageError({"post", "--library", "x", "a", "b"}, kNative),
            "unknown option --library for post (see zanvor post --help)");
  EXPECT_NE(UsageError({"script.prg"}, kNative).find("unknown command"), std::string::npos);
  EXPECT_NE(UsageError({}, kNative).find("a command is needed"), std::string::npos);
}

TEST(CommandLineTest, EveryVerbAndTheToolHaveHelp) {
  for (const ToolCapabilities& caps : {kWindows, kNative}) {
    EXPECT_TRUE(Parse({"--help"}, caps).help);
    EXPECT_EQ(UsageText(Verb::kNone, caps).rfind("Usage: zanvor COMMAND", 0), 0u);
    for (const char* verb : {"post", "listen"}) {
      const Invocation help = Parse({verb, "-h"}, caps);
      EXPECT_TRUE(help.help);
      EXPECT_EQ(UsageText(help.verb, caps).rfind(std::string("Usage: zanvor ") + verb, 0), 0u);
    }
  }
  for (const char* verb : {"run", "status", "doctor"}) {
    const Invocation help = Parse({verb, "--help"});
    EXPECT_EQ(UsageText(help.verb, kWindows).rfind(std::string("Usage: zanvor ") + verb, 0), 0u);
  }
  // Only the Windows build offers what needs an instance.
  EXPECT_NE(UsageText(Verb::kPost, kWindows).find("--local"), std::string::npos);
  EXPECT_EQ(UsageText(Verb::kPost, kNative).find("--local"), std::string::npos);
}

const Verb kEveryVerb[] = {Verb::kRun, Verb::kPost, Verb::kListen, Verb::kStatus, Verb::kDoctor};

bool BuildHas(Verb verb, const ToolCapabilities& caps) {
  Invocation invocation;
  std::string error;
  return ParseCommandLine({VerbName(verb), "--help"}, caps, &invocation, &error);
}

// The parser and the help texts are made from the same rows by different
// code: what a build's verb takes is what its --help lists, and the tool's
// usage and its "unknown command" name the verbs the build has.
TEST(CommandLineTest, TheHelpListsWhatTheParserTakesInEachBuild) {
  std::set<std::string> listedAnywhere;
  for (const ToolCapabilities& caps : {kWindows, kNative}) {
    for (const Verb verb : kEveryVerb) {
      const std::string help = UsageText(verb, caps);
      for (size_t at = help.find("\n  --"); at != std::string::npos;
           at = help.find("\n  --", at + 1)) {
        listedAnywhere.insert(help.substr(at + 3, help.find(' ', at + 3) - at - 3));
      }
    }
  }
  listedAnywhere.erase("--help");
  EXPECT_TRUE(listedAnywhere.count("--no-window") && listedAnywhere.count("--count"));
  for (const ToolCapabilities& caps : {kWindows, kNative}) {
    const std::string build = caps.instance ? " (Windows)" : " (native)";
    const std::string usage = UsageText(Verb::kNone, caps);
    const std::string unknown = UsageError({"nosuch"}, caps);
    for (const Verb verb : kEveryVerb) {
      const std::string name = VerbName(verb);
      const bool has = BuildHas(verb, caps);
      EXPECT_EQ(usage.find("\n  " + name + " ") != std::string::npos, has) << name << build;
      EXPECT_EQ(unknown.find(name) != std::string::npos, has) << name << build;
      if (!has) continue;
      const std::string help = UsageText(verb, caps);
      for (const std::string& option : listedAnywhere) {
        Invocation invocation;
        std::string error;
        // A value for options that take one; --help spares the arguments.
        const bool taken =
            ParseCommandLine({name, option, "1", "--help"}, caps, &invocation, &error);
        EXPECT_EQ(help.find("\n  " + option + " ") != std::string::npos, taken)
            << name << " " << option << build << ": " << error;
      }
    }
  }
}

// One main for both builds: the verb's bound function runs with what was
// parsed; --help and usage errors are answered without running anything.
TEST(CommandLineTest, RunToolRunsTheBoundFunctionOfTheVerb) {
  static std::vector<std::string> ran;
  const auto run = [](const std::vector<std::string>& args, const ToolCapabilities& caps,
                      RecordingOutput* out) {
    std::vector<std::string> argv = {"zanvor"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(&arg[0]);
    ran.clear();
    return RunTool(static_cast<int>(pointers.size()), pointers.data(), caps,
                   {{Verb::kPost,
                     [](const Invocation& invocation, ToolOutput&) {
                       ran.push_back("post " + invocation.options.name);
                       return 7;
                     }},
                    {Verb::kListen,
                     [](const Invocation& invocation, ToolOutput&) {
                       ran.push_back("listen " + invocation.options.names[0]);
                       return kExitSuccess;
                     }}},
                   *out);
  };
  RecordingOutput out;
  EXPECT_EQ(run({"post", "a", "b"}, kNative, &out), 7);
  EXPECT_EQ(ran, (std::vector<std::string>{"post a"}));
  EXPECT_EQ(run({"listen", "x", "--count", "1"}, kNative, &out), kExitSuccess);
  EXPECT_EQ(ran, (std::vector<std::string>{"listen x"}));
  EXPECT_TRUE(out.out.empty() && out.err.empty());

  EXPECT_EQ(run({"post", "--help"}, kNative, &out), kExitSuccess);
  EXPECT_TRUE(ran.empty());
  EXPECT_EQ(out.out, (std::vector<std::string>{UsageText(Verb::kPost, kNative)}));
  EXPECT_EQ(run({"post", "a:b", "c"}, kNative, &out), kExitUsage);
  EXPECT_TRUE(ran.empty());
  EXPECT_EQ(out.err.back(),
            "zanvor: Subscription name cannot contain a colon. (see zanvor post --help)");
  // A verb the capabilities offer but nothing binds.
  EXPECT_EQ(run({"status"}, kWindows, &out), kExitUsage);
  EXPECT_TRUE(ran.empty());
  EXPECT_EQ(out.err.back(),
            "zanvor: this build has run, post, listen, status and doctor only (see zanvor "
            "--help)");
}

}  // namespace
}  // namespace zanvor
