// The host's script language without Windows: the interpreter against a
// recording host and a clock of the test's own, and the program text's
// structure. Whole scripts in real host processes are the Wine tests' part.
#include <cstdint>
#include <string>
#include <vector>

#include "fll_host/interpreter.h"
#include "fll_host/output_lines.h"
#include "fll_host/program_text.h"
#include "gtest/gtest.h"

namespace zanvor {
namespace {

// A host with no library: it keeps what the script prints and the errors it
// reports. READ EVENTS runs the queued event lines, as handlers the library
// has the host execute, until one clears the events.
class RecordingHost final : public ScriptHost {
 public:
  void WriteLine(const std::string& line) override { lines.push_back(line); }
  void WriteDebugLine(const std::string& line) override { lines.push_back("debug " + line); }
  void ReportError(const HostError& error) override { errors.push_back(error.text); }
  bool HasLibraryFunction(const std::string&) override { return false; }
  bool CallLibraryFunction(const std::string& name, const std::vector<Value>&, Value*,
                           HostError* error) override {
    ADD_FAILURE() << "called " << name;
    *error = HostError::Text("no library");
    return false;
  }
  bool SetLibrary(const std::string&, HostError* error) override { return Refuse(error); }
  bool ReleaseLibrary(HostError* error) override { return Refuse(error); }
  bool ListFunctions(HostError* error) override { return Refuse(error); }
  void DoEvents(double) override {}
  void ReadEvents(const std::function<bool()>& cleared) override {
    while (!cleared() && !events.empty()) {
      const std::string line = events.front();
      events.erase(events.begin());
      interpreter->ExecuteLine(line);
    }
  }
  void Quit() override {}
  std::string ResourceText() override { return "pid=7 handles=3"; }
  uint32_t CodePage() override { return 932; }
  bool DestroyMainWindow() override {
    ++windowsDestroyed;
    return true;
  }
  bool BindEvent(double message, HostError* error) override {
    if (bound != 0) {
      *error = HostError::Text("An event is bound already.");
      return false;
    }
    bound = message;
    return true;
  }
  bool UnbindEvents(HostError* error) override {
    if (bound == 0) {
      *error = HostError::Text("No event is bound.");
      return false;
    }
    bound = 0;
    return true;
  }
  double SendToMainWindow(double message, double wParam, double lParam) override {
    sent.push_back({message, wParam, lParam});
    return message + 1;
  }

  Interpreter* interpreter = nullptr;
  std::vector<std::string> events;
  std::vector<std::string> lines;
  std::vector<std::string> errors;
  int windowsDestroyed = 0;
  double bound = 0;
  std::vector<std::vector<double>> sent;

 private:
  static bool Refuse(HostError* error) {
    *error = HostError::Text("no library");
    return false;
  }
};

class InterpreterTest : public ::testing::Test {
 protected:
  // Runs the lines and gives what they printed.
  std::vector<std::string> Run(const std::vector<std::string>& script) {
    for (const std::string& line : script) interpreter.ExecuteLine(line);
    return host.lines;
  }

  InterpreterTest() { host.interpreter = &interpreter; }

  RecordingHost host;
  uint64_t now = 0;
  Interpreter interpreter{host, [this] { return now++; }};
};

TEST_F(InterpreterTest, EachQuoteKindHoldsTheOtherTwo) {
  EXPECT_EQ(Run({R"(? "it's [x]")", R"(? 'say "hi" [x]')", R"(? [both "'"])"}),
            (std::vector<std::string>{"it's [x]", "say \"hi\" [x]", "both \"'\""}));
  EXPECT_TRUE(host.errors.empty());
}

TEST_F(InterpreterTest, PlusJoinsTextAndAddsNumbersWithChrLenAndReplicate) {
  EXPECT_EQ(Run({"? 'a' + CHR(0) + CHR(255) + [b]", "? LEN(REPLICATE('ab', 3) + CHR(9))",
                 "? 1 + 2 - .5", "? REPLICATE('x', 0) + 'end'"}),
            (std::vector<std::string>{std::string("a\0\xff"
                                                  "b",
                                                  4),
                                      "7", "2.5", "end"}));
  EXPECT_TRUE(host.errors.empty());
}

TEST_F(InterpreterTest, QpcIsTheClockReadOnEachCallAsDigits) {
  now = (uint64_t{1} << 40) + 7;  // wider than 32 bits
  EXPECT_EQ(Run({"? QPC(), QPC() + 'x'"}),
            (std::vector<std::string>{"1099511627783 1099511627784x"}));
  EXPECT_EQ(now, (uint64_t{1} << 40) + 9);
}

TEST_F(InterpreterTest, ResourcesAndDestroyWindowAreTheHostsAndTakeNoArguments) {
  EXPECT_EQ(Run({"? RESOURCES()", "? destroywindow()", "? RESOURCES(1)"}),
            (std::vector<std::string>{"pid=7 handles=3", ".T."}));
  EXPECT_EQ(host.windowsDestroyed, 1);
  EXPECT_EQ(host.errors, (std::vector<std::string>{"RESOURCES takes no arguments."}));
}

TEST_F(InterpreterTest, CpCurrentIsTheHostsCodePage) {
  EXPECT_EQ(Run({"? CPCURRENT()", "? CPCURRENT(1)"}), (std::vector<std::string>{"932"}));
  EXPECT_EQ(host.errors, (std::vector<std::string>{"CPCURRENT takes no arguments."}));
}

TEST_F(InterpreterTest, AnAssignmentMakesAVariableOfTheRunningProcedureUnlessOneIsVisible) {
  EXPECT_EQ(Run({"lcName = 'main'", "PROCEDURE Show", "LPARAMETERS tcText", "lcOwn = tcText + '!'",
                 "? lcName, lcOwn", "LCNAME = 'changed'", "ENDPROC", "DO Show WITH 'x'", "? lcName",
                 "? lcOwn", "n = 1 +", "? n"}),
            (std::vector<std::string>{"main x!", "changed"}));
  EXPECT_EQ(host.errors,
            (std::vector<std::string>{"Unknown name: lcOwn", "Unexpected end of the command.",
                                      "Unknown name: n"}));
}

// As FoxPro does for a command it compiles at run time: "&name" and
// "&name." are replaced by a character variable's value before the line is
// parsed, inside literals too, and nothing else after "&" changes.
TEST_F(InterpreterTest, MacrosAreSubstitutedBeforeTheLineIsParsed) {
  EXPECT_EQ(Run({"lcPassword = 'secret'", "T = 'xyz'", "n = 5", "lcCmd = [? 'spliced']",
                 "lcAmp = CHR(38) + 'lcPassword'", "? \"AT&T\"", "? '&lcPassword.|&LCPASSWORD|'",
                 "? \"&nope &n & &\"", "? '&&lcPassword'", "&lcCmd", "? [&lcAmp.]",
                 "? 'x' && &lcPassword"}),
            (std::vector<std::string>{"ATxyz", "secret|secret|", "&nope &n & &", "&&lcPassword",
                                      "spliced", "&lcPassword", "x"}));
  EXPECT_TRUE(host.errors.empty());
}

TEST_F(InterpreterTest, BindUnbindAndSendMessageReachTheHostsWindowWithTheirNumbers) {
  EXPECT_EQ(Run({"? BINDEVENT(32769)", "? BINDEVENT(5)", "? SENDMESSAGE(32769)",
                 "? SendMessage(14, 2, 3)", "? UNBINDEVENTS()", "? UNBINDEVENTS()"}),
            (std::vector<std::string>{".T.", "32770", "15", ".T."}));
  EXPECT_EQ(host.sent, (std::vector<std::vector<double>>{{32769, 0, 0}, {14, 2, 3}}));
  EXPECT_EQ(host.errors,
            (std::vector<std::string>{"An event is bound already.", "No event is bound."}));
  host.errors.clear();
  Run({"=BINDEVENT('x')", "=BINDEVENT()", "=UNBINDEVENTS(1)", "=SENDMESSAGE()",
       "=SENDMESSAGE(1, 2, 3, 4)", "=SENDMESSAGE(1, 'a')"});
  EXPECT_EQ(
      host.errors,
      (std::vector<std::string>{
          "BINDEVENT takes a message number.", "BINDEVENT takes a message number.",
          "UNBINDEVENTS takes no arguments.", "SENDMESSAGE takes one to three numbers.",
          "SENDMESSAGE takes one to three numbers.", "SENDMESSAGE takes one to three numbers."}));
  EXPECT_EQ(host.bound, 0);
  EXPECT_EQ(host.sent.size(), 2u);
}

TEST_F(InterpreterTest, AParseErrorEndsOnlyItsLine) {
  HostError error;
  EXPECT_FALSE(interpreter.Execute("? 'a' + ('b'", &error));
  EXPECT_EQ(error.number, 0);
  EXPECT_EQ(error.text, "Unexpected end of the command.");
  EXPECT_EQ(Run({"? 'a' 'b'", "? 'next'"}), (std::vector<std::string>{"next"}));
  EXPECT_EQ(host.errors, (std::vector<std::string>{"Syntax error near \"b\"."}));
}

TEST_F(InterpreterTest, DoRunsADefinedProcedureInItsOwnVariablesAndRecordsAnyOther) {
  EXPECT_EQ(Run({"PROCEDURE Outer", "LPARAMETERS tcText, tlMore", "DO inner WITH tcText + '!'",
                 "? tcText, tlMore", "ENDPROC", "PROC Inner", "PARA tcText", "? TCTEXT", "ENDP",
                 "DO OUTER WITH 'x'", "DO Other WITH 'y'", "? tcText"}),
            (std::vector<std::string>{"x!", "x .F.", R"(DO Other(["y"]))"}));
  EXPECT_EQ(host.errors, (std::vector<std::string>{"Unknown name: tcText"}));
}

// The program in FoxPro's order: the handlers call procedures that follow
// the main program.
TEST_F(InterpreterTest, ReadEventsRunsHandlersUntilOneOfThemClearsEvents) {
  host.events = {"DO Got WITH 'one'", "DO Stop WITH 'two'", "? 'left queued'"};
  EXPECT_EQ(Run(ProceduresFirst({"CLEAR EVENTS", "READ EVENTS", "? 'after'", "PROCEDURE Got",
                                 "LPARAMETERS tcMsg", "? 'got ' + tcMsg", "PROCEDURE Stop",
                                 "LPARAMETERS tcMsg", "? 'stop ' + tcMsg", "CLEAR EVENTS"})),
            (std::vector<std::string>{"got one", "stop two", "after"}));
  EXPECT_EQ(host.events, (std::vector<std::string>{"? 'left queued'"}));
  EXPECT_TRUE(host.errors.empty());
}

TEST(ProgramTextTest, ProceduresComeFirstEachClosedAndTheMainProgramEndsAtTheFirst) {
  EXPECT_EQ(
      ProceduresFirst({"* main", "=A()", "PROC one", "? 1", "procedure two && c", "? 2", "ENDPROC",
                       "? 'never run'", "FUNCTION three", "? 3"}),
      (std::vector<std::string>{"PROC one", "? 1", "ENDPROC", "procedure two && c", "? 2",
                                "ENDPROC", "FUNCTION three", "? 3", "ENDPROC", "* main", "=A()"}));
}

}  // namespace
}  // namespace zanvor
