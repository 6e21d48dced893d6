// The host's small FoxPro-like command language. One command per line:
//
//   SET LIBRARY TO file        load a link library (a bare path, a literal or
//                              a parenthesised expression); no file: release
//   RELEASE LIBRARY            run the library's unload function, free it
//   LIST FUNCTIONS             print the loaded library's function table
//   =expr                      evaluate, discard the value
//   ? expr[, expr...]          print the values as plain text, then a newline
//   DEBUGOUT expr[, expr...]   the same on standard error (the debug output)
//   DO name [WITH a, b, ...]   record the call (no programs exist here)
//   DOEVENTS [ms]              pump window messages (one pass, or for ms)
//   READ EVENTS                pump window messages until CLEAR EVENTS
//   CLEAR EVENTS               end the READ EVENTS in progress
//   PROCEDURE name ... ENDPROC define a procedure (also FUNCTION ... ENDFUNC)
//   LPARAMETERS a, b, ...      name the running procedure's arguments (also
//                              PARAMETERS); a missing argument is .F.
//   QUIT                       stop after this line
//   name = expr                assign a variable (made in the running
//                              procedure's frame unless one is visible)
//   name(args)                 a function call used as a command
//   * comment                  also "&&" after a command
//
// DO of a defined procedure runs its lines; DO of any other name records the
// call. The variables visible are the running procedure's own (its
// parameters and what it assigned) and the main program's.
//
// Macro substitution, as FoxPro makes it when it compiles a command line at
// run time (every line here, the commands a library has the host execute
// included): before the line is parsed, each "&name" or "&name." whose name
// is a visible character variable becomes the variable's value, inside
// string literals too. Any other "&" stays as written ("&&", "&" before a
// name no character variable has, a lone "&"); a substituted value is not
// searched again.
//
// Expressions: literals in "...", '...' or [...], numbers, .T./.F., `+` and
// `-`, parentheses, variables, the built-ins CHR, LEN, REPLICATE, MESSAGEBOX,
// QPC (the clock's microseconds, as decimal digits), RESOURCES (the host
// process's counters, see ScriptHost::ResourceText), DESTROYWINDOW
// (destroys the host's main window, the process lives on), BINDEVENT(n) and
// UNBINDEVENTS() (an event binding on the main window, see
// ScriptHost::BindEvent), SENDMESSAGE(msg [, wParam [, lParam]]) (sends a
// message to the main window, gives its result), CPCURRENT (the ANSI code
// page the host runs with), PULSE (the host's own timer and posted message,
// see ScriptHost::StartPulse), and the loaded library's functions, all
// called with case-insensitive names.
#ifndef ZANVOR_TOOLS_FLL_HOST_INTERPRETER_H_
#define ZANVOR_TOOLS_FLL_HOST_INTERPRETER_H_

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fll_host/value.h"

namespace zanvor {

// The clock behind QPC(), in microseconds. The host reads the machine's
// performance counter, which every process of one machine shares, so that
// times taken in two hosts compare; tests give a clock of their own.
using MicrosecondClock = std::function<uint64_t()>;

// What the language needs from the host around it.
class ScriptHost {
 public:
  virtual ~ScriptHost() = default;

  // One line on standard output / one error line on standard error.
  virtual void WriteLine(const std::string& line) = 0;
  virtual void WriteDebugLine(const std::string& line) = 0;
  virtual void ReportError(const HostError& error) = 0;

  // Library functions by name, in any letter case.
  virtual bool HasLibraryFunction(const std::string& name) = 0;
  virtual bool CallLibraryFunction(const std::string& name, const std::vector<Value>& args,
                                   Value* result, HostError* error) = 0;

  // An empty path releases the library.
  virtual bool SetLibrary(const std::string& path, HostError* error) = 0;
  virtual bool ReleaseLibrary(HostError* error) = 0;
  virtual bool ListFunctions(HostError* error) = 0;

  // milliseconds < 0: one pass over the waiting messages.
  virtual void DoEvents(double milliseconds) = 0;
  // Pumps window messages until `cleared` is true (a command run meanwhile,
  // by a handler, executed CLEAR EVENTS) or the host has to stop. A host
  // that runs no programs (the tool's own instance) returns at once.
  virtual void ReadEvents(const std::function<bool()>& /*cleared*/) {}
  virtual void Quit() = 0;

  // DO name WITH args. No programs exist here: the stand-in host records
  // the call as a DO line on standard output.
  virtual void RunProcedure(const std::string& name, const std::vector<Value>& args);
  // MESSAGEBOX(...): nothing modal is shown; the stand-in host writes the
  // box out as a MESSAGEBOX line. The answer is always OK (1).
  virtual void ShowMessageBox(const std::string& text, const std::string& title, double flags);
  // What the process holds, as "key=value" words separated by spaces: its
  // id, memory, kernel handles and window-system objects, for checking that
  // a long run leaks none of them.
  virtual std::string ResourceText() { return std::string(); }
  // Destroys the main window while the process and its library stay, as a
  // program does that closes its last form; true when it was destroyed.
  virtual bool DestroyMainWindow() { return false; }
  // BINDEVENT(_screen.hWnd, message, ...) as FoxPro does it: subclasses the
  // main window on top of what is there (the library), reports each
  // `message` that reaches it as an "EVENT message wParam lParam" line and
  // passes every message on. UNBINDEVENTS() puts back what it saved, blindly,
  // as FoxPro does.
  virtual bool BindEvent(double /*message*/, HostError* error) {
    *error = HostError::Text("This host has no main window to bind to.");
    return false;
  }
  virtual bool UnbindEvents(HostError* error) {
    *error = HostError::Text("This host has no main window to bind to.");
    return false;
  }
  // SendMessage to the main window; its result.
  virtual double SendToMainWindow(double /*message*/, double /*wParam*/, double /*lParam*/) {
    return 0;
  }
  // CPCURRENT(): the code page the host's character values are in (the
  // process's ANSI code page); 0 where there is none.
  virtual uint32_t CodePage() { return 0; }
  // PULSE(ms) starts the host's own timer and self-posted message (0 stops
  // them), PULSE() reports their counts; see stand_in_host/pulse_win.h.
  virtual bool StartPulse(double /*milliseconds*/) { return false; }
  virtual std::string PulseText() { return std::string(); }
};

// What a program keeps from one line to the next.
struct ProgramState {
  struct Frame {
    std::vector<Value> arguments;
    std::map<std::string, Value> variables;  // by upper-case name
  };

  std::map<std::string, std::vector<std::string>> procedures;  // by upper-case name
  std::string defining;  // the procedure whose lines are being read, or ""
  // The main program's frame first, the running procedure's last.
  std::vector<Frame> frames = std::vector<Frame>(1);
  bool readingEvents = false;
  bool eventsCleared = false;
};

class Interpreter {
 public:
  // REQUIRES: host outlives the interpreter; clock is callable.
  Interpreter(ScriptHost& host, MicrosecondClock clock) : host_(host), clock_(std::move(clock)) {}
  Interpreter(const Interpreter&) = delete;
  Interpreter& operator=(const Interpreter&) = delete;

  // Runs one command line. An error is reported through the host and ends
  // only this line. May be entered again from inside a call it makes (a
  // library function that has the host execute a command). Between a
  // PROCEDURE line and its end, lines are kept for the procedure, not run.
  void ExecuteLine(const std::string& line);

  // As ExecuteLine, but hands the error back instead of reporting it.
  bool Execute(const std::string& line, HostError* error);

 private:
  ScriptHost& host_;
  MicrosecondClock clock_;
  ProgramState state_;
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_FLL_HOST_INTERPRETER_H_
