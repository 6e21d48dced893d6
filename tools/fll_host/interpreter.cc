#include "fll_host/interpreter.h"

#include <cmath>
#include <cstdint>

#include "fll_host/lexer.h"
#include "fll_host/output_lines.h"
#include "fll_host/program_text.h"

namespace zanvor {
namespace {

// Deep enough for any real expression, shallow enough that a line of ten
// thousand "(" cannot exhaust the stack.
constexpr int kMaxNesting = 64;
// Procedures calling procedures; handlers run from inside them count too.
constexpr size_t kMaxCallDepth = 64;
constexpr double kMaxReplicateBytes = 16 * 1024 * 1024;

// The variable `upper` names as the running procedure sees it: its own,
// else the main program's (at the bottom of every call chain, so visible to
// everything it calls, as FoxPro's private variables of a program are).
// nullptr when there is none.
Value* FindVariable(ProgramState& state, const std::string& upper) {
  for (ProgramState::Frame* frame : {&state.frames.back(), &state.frames.front()}) {
    const auto found = frame->variables.find(upper);
    if (found != frame->variables.end()) return &found->second;
  }
  return nullptr;
}

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

// FoxPro's macro substitution over the whole line, literals included. The
// "&" byte is never the trail byte of a double-byte character, so the scan
// may go byte by byte in any code page.
std::string ExpandMacros(const std::string& line, ProgramState& state) {
  if (line.find('&') == std::string::npos) return line;
  std::string expanded;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] != '&' || i + 1 >= line.size() || !IsNameStart(line[i + 1])) {
      // "&&" goes on whole, so that its second "&" starts nothing.
      const size_t length = line.compare(i, 2, "&&") == 0 ? 2 : 1;
      expanded.append(line, i, length);
      i += length;
      continue;
    }
    size_t end = i + 1;
    while (end < line.size() && IsNameChar(line[end])) ++end;
    const Value* variable = FindVariable(state, AsciiUpper(line.substr(i + 1, end - i - 1)));
    if (variable == nullptr || !variable->is_string()) {
      expanded.append(line, i, end - i);
    } else {
      expanded += variable->text;
      if (end < line.size() && line[end] == '.') ++end;  // the macro's terminator
    }
    i = end;
  }
  return expanded;
}

// Parses and runs one command line. Every parse or evaluation step returns
// false after storing the first error in error_.
class Statement {
 public:
  // The line is run after macro substitution.
  Statement(ScriptHost& host, const MicrosecondClock& clock, ProgramState& state,
            const std::string& line)
      : host_(host),
        clock_(clock),
        state_(state),
        expanded_(ExpandMacros(line, state)),
        line_(expanded_),
        lexer_(expanded_) {}

  bool Run(HostError* error) {
    const bool ok = RunCommand();
    if (!ok) *error = error_;
    return ok;
  }

 private:
  bool Fail(std::string text) {
    error_ = HostError::Text(std::move(text));
    return false;
  }
  bool Fail(const HostError& error) {
    error_ = error;
    return false;
  }
  bool FailToken(const Token& token) {
    if (token.type == Token::Type::kError) return Fail(token.text);
    if (token.type == Token::Type::kEnd) return Fail("Unexpected end of the command.");
    return Fail("Syntax error near \"" + token.text + "\".");
  }
  bool ExpectEnd() {
    const Token token = lexer_.Next();
    return token.type == Token::Type::kEnd || FailToken(token);
  }
  bool IsSymbol(const Token& token, char symbol) {
    return token.type == Token::Type::kSymbol && token.text[0] == symbol;
  }

  bool RunCommand();
  bool RunPrint(bool debug);
  bool RunDo();
  bool RunSet();
  bool RunRelease();
  bool RunDoEvents();
  bool RunList();
  bool RunProcedure(const std::vector<std::string>& lines, std::vector<Value> args);
  bool RunParameters();
  bool RunReadEvents();
  bool RunClearEvents();
  bool RunAssignment(const std::string& name);

  bool ExpressionList(std::vector<Value>* values);
  bool Expression(Value* value);
  bool Unary(Value* value);
  bool Primary(Value* value);
  bool Call(const std::string& name, Value* value);
  bool CallBuiltin(const std::string& upper, const std::vector<Value>& args, Value* value,
                   bool* found);

  ScriptHost& host_;
  const MicrosecondClock& clock_;
  ProgramState& state_;
  const std::string expanded_;
  const std::string& line_;
  Lexer lexer_;
  HostError error_;
  int depth_ = 0;
};

bool Statement::RunCommand() {
  const Token first = lexer_.Peek();
  switch (first.type) {
    case Token::Type::kEnd:
      return true;
    case Token::Type::kError:
      return FailToken(first);
    case Token::Type::kSymbol:
      if (first.text == "*") return true;  // a comment line
      if (first.text == "?") {
        lexer_.Next();
        return RunPrint(false);
      }
      if (first.text == "=") {
        lexer_.Next();
        Value ignored;
        return Expression(&ignored) && ExpectEnd();
      }
      return FailToken(first);
    case Token::Type::kName:
      break;
    default:
      return Fail("Unrecognized command.");
  }
  lexer_.Next();
  if (IsSymbol(lexer_.Peek(), '=')) return RunAssignment(first.text);
  const std::string verb = AsciiUpper(first.text);
  if (verb == "DO") return RunDo();
  if (verb == "SET") return RunSet();
  if (MatchesKeyword(first.text, "RELEASE")) return RunRelease();
  if (MatchesKeyword(first.text, "DOEVENTS")) return RunDoEvents();
  if (MatchesKeyword(first.text, "LIST")) return RunList();
  if (MatchesKeyword(first.text, "LPARAMETERS") || MatchesKeyword(first.text, "PARAMETERS")) {
    return RunParameters();
  }
  if (verb == "READ") return RunReadEvents();
  if (MatchesKeyword(first.text, "CLEAR")) return RunClearEvents();
  if (verb == "NOTE") return true;
  if (MatchesKeyword(first.text, "DEBUGOUT")) return RunPrint(true);
  if (MatchesKeyword(first.text, "QUIT")) {
    if (!ExpectEnd()) return false;
    host_.Quit();
    return true;
  }
  // A function call standing alone runs as a command, its value discarded.
  if (IsSymbol(lexer_.Peek(), '(')) {
    Value ignored;
    return Call(first.text, &ignored) && ExpectEnd();
  }
  return Fail("Unrecognized command verb: " + first.text);
}

bool Statement::RunPrint(bool debug) {
  std::vector<Value> values;
  if (lexer_.Peek().type != Token::Type::kEnd && !ExpressionList(&values)) return false;
  if (!ExpectEnd()) return false;
  std::string line;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) line += ' ';
    line += PlainText(values[i]);
  }
  if (debug) {
    host_.WriteDebugLine(line);
  } else {
    host_.WriteLine(line);
  }
  return true;
}

bool Statement::RunDo() {
  // The procedure name is taken as written: it names no program here, the
  // call is only recorded.
  const Token name = lexer_.Next();
  if (name.type != Token::Type::kName) return FailToken(name);
  std::string fullName = name.text;
  // Program names may carry an extension or a path ("DO util.prg").
  while (lexer_.position() < line_.size()) {
    const char c = line_[lexer_.position()];
    if (c != '.' && c != '\\' && c != ':') break;
    lexer_.Next();
    fullName += c;
    const Token part = lexer_.Peek();
    if (part.type == Token::Type::kName && part.position == lexer_.position()) {
      fullName += lexer_.Next().text;
    }
  }
  std::vector<Value> args;
  const Token with = lexer_.Next();
  if (with.type == Token::Type::kName && AsciiUpper(with.text) == "WITH") {
    if (!ExpressionList(&args)) return false;
    if (!ExpectEnd()) return false;
  } else if (with.type != Token::Type::kEnd) {
    return FailToken(with);
  }
  const auto procedure = state_.procedures.find(AsciiUpper(fullName));
  if (procedure != state_.procedures.end()) {
    // A copy: a handler run from inside may define procedures.
    const std::vector<std::string> lines = procedure->second;
    return RunProcedure(lines, std::move(args));
  }
  host_.RunProcedure(fullName, args);
  return true;
}

// An error in one of the procedure's lines is reported and the next line
// runs, as after "Ignore" in FoxPro's error dialog.
bool Statement::RunProcedure(const std::vector<std::string>& lines, std::vector<Value> args) {
  if (state_.frames.size() > kMaxCallDepth) return Fail("DO calls nested too deeply.");
  state_.frames.push_back(ProgramState::Frame{std::move(args), {}});
  for (const std::string& line : lines) {
    Statement statement(host_, clock_, state_, line);
    HostError error;
    if (!statement.Run(&error)) host_.ReportError(error);
  }
  state_.frames.pop_back();
  return true;
}

bool Statement::RunParameters() {
  ProgramState::Frame& frame = state_.frames.back();
  size_t index = 0;
  for (;;) {
    const Token name = lexer_.Next();
    if (name.type != Token::Type::kName) return FailToken(name);
    frame.variables[AsciiUpper(name.text)] =
        index < frame.arguments.size() ? frame.arguments[index] : Value::Logical(false);
    ++index;
    const Token next = lexer_.Next();
    if (next.type == Token::Type::kEnd) return true;
    if (!IsSymbol(next, ',')) return FailToken(next);
  }
}

bool Statement::RunAssignment(const std::string& name) {
  lexer_.Next();  // "="
  Value value;
  if (!Expression(&value) || !ExpectEnd()) return false;
  const std::string upper = AsciiUpper(name);
  Value* variable = FindVariable(state_, upper);
  if (variable == nullptr) variable = &state_.frames.back().variables[upper];
  *variable = std::move(value);
  return true;
}

bool Statement::RunReadEvents() {
  const Token what = lexer_.Next();
  if (what.type != Token::Type::kName || !MatchesKeyword(what.text, "EVENTS")) {
    return Fail("Unsupported READ command; only READ EVENTS is known.");
  }
  if (!ExpectEnd()) return false;
  if (state_.readingEvents) return Fail("READ EVENTS is already active.");
  state_.readingEvents = true;
  state_.eventsCleared = false;
  ProgramState& state = state_;
  host_.ReadEvents([&state] { return state.eventsCleared; });
  state_.readingEvents = false;
  return true;
}

// Outside READ EVENTS it does nothing: the next READ EVENTS starts afresh.
bool Statement::RunClearEvents() {
  const Token what = lexer_.Next();
  if (what.type != Token::Type::kName || !MatchesKeyword(what.text, "EVENTS")) {
    return Fail("Unsupported CLEAR command; only CLEAR EVENTS is known.");
  }
  if (!ExpectEnd()) return false;
  state_.eventsCleared = true;
  return true;
}

bool Statement::RunSet() {
  const Token what = lexer_.Next();
  if (what.type != Token::Type::kName || !MatchesKeyword(what.text, "LIBRARY")) {
    if (what.type == Token::Type::kName) return Fail("Unsupported SET command: SET " + what.text);
    return FailToken(what);
  }
  const Token to = lexer_.Next();
  if (to.type == Token::Type::kEnd) return host_.SetLibrary("", &error_);
  if (to.type != Token::Type::kName || AsciiUpper(to.text) != "TO") return FailToken(to);

  std::string path;
  const Token next = lexer_.Peek();
  if (next.type == Token::Type::kString || IsSymbol(next, '(')) {
    Value value;
    if (!Expression(&value)) return false;
    if (!value.is_string()) return Fail("SET LIBRARY TO needs a file name.");
    path = value.text;
    const Token tail = lexer_.Next();
    if (tail.type == Token::Type::kName && MatchesKeyword(tail.text, "ADDITIVE")) {
      if (!ExpectEnd()) return false;
    } else if (tail.type != Token::Type::kEnd) {
      return FailToken(tail);
    }
  } else {
    path = lexer_.Rest();
    // Only one library is held at a time; ADDITIVE is accepted and ignored.
    const std::string upper = AsciiUpper(path);
    const std::string additive = " ADDITIVE";
    if (upper.size() > additive.size() &&
        upper.compare(upper.size() - additive.size(), additive.size(), additive) == 0) {
      path.erase(path.size() - additive.size());
      while (!path.empty() && (path.back() == ' ' || path.back() == '\t')) path.pop_back();
    }
  }
  return host_.SetLibrary(path, &error_);
}

bool Statement::RunRelease() {
  const Token what = lexer_.Next();
  if (what.type != Token::Type::kName || !MatchesKeyword(what.text, "LIBRARY")) {
    return Fail("Unsupported RELEASE command; only RELEASE LIBRARY is known.");
  }
  lexer_.Rest();  // RELEASE LIBRARY file: there is only one library to release
  return host_.ReleaseLibrary(&error_);
}

bool Statement::RunDoEvents() {
  double milliseconds = -1;
  const Token next = lexer_.Peek();
  if (next.type == Token::Type::kName && MatchesKeyword(next.text, "FORCE")) {
    lexer_.Next();
  } else if (next.type != Token::Type::kEnd) {
    Value value;
    if (!Expression(&value)) return false;
    if (!value.is_number() || !(value.number >= 0)) {
      return Fail("DOEVENTS takes a number of milliseconds.");
    }
    milliseconds = value.number;
  }
  if (!ExpectEnd()) return false;
  host_.DoEvents(milliseconds);
  return true;
}

bool Statement::RunList() {
  const Token what = lexer_.Next();
  if (what.type != Token::Type::kName || !MatchesKeyword(what.text, "FUNCTIONS")) {
    return Fail("Unsupported LIST command; only LIST FUNCTIONS is known.");
  }
  return ExpectEnd() && host_.ListFunctions(&error_);
}

bool Statement::ExpressionList(std::vector<Value>* values) {
  for (;;) {
    Value value;
    if (!Expression(&value)) return false;
    values->push_back(std::move(value));
    if (!IsSymbol(lexer_.Peek(), ',')) return true;
    lexer_.Next();
  }
}

bool Statement::Expression(Value* value) {
  if (++depth_ > kMaxNesting) return Fail("Expression nested too deeply.");
  if (!Unary(value)) return false;
  for (;;) {
    const Token op = lexer_.Peek();
    if (!IsSymbol(op, '+') && !IsSymbol(op, '-')) break;
    lexer_.Next();
    Value right;
    if (!Unary(&right)) return false;
    if (op.text == "+" && value->is_string() && right.is_string()) {
      value->text += right.text;
    } else if (value->is_number() && right.is_number()) {
      value->number = op.text == "+" ? value->number + right.number : value->number - right.number;
    } else {
      return Fail("Operator/operand type mismatch.");
    }
  }
  --depth_;
  return true;
}

bool Statement::Unary(Value* value) {
  const Token token = lexer_.Peek();
  if (IsSymbol(token, '-') || IsSymbol(token, '+')) {
    lexer_.Next();
    if (++depth_ > kMaxNesting) return Fail("Expression nested too deeply.");
    if (!Unary(value)) return false;
    --depth_;
    if (!value->is_number()) return Fail("Operator/operand type mismatch.");
    if (token.text == "-") value->number = -value->number;
    return true;
  }
  return Primary(value);
}

bool Statement::Primary(Value* value) {
  const Token token = lexer_.Next();
  switch (token.type) {
    case Token::Type::kString:
      *value = Value::String(token.text);
      return true;
    case Token::Type::kNumber:
      *value = Value::Number(token.number);
      return true;
    case Token::Type::kLogical:
      *value = Value::Logical(token.logical);
      return true;
    case Token::Type::kName: {
      if (IsSymbol(lexer_.Peek(), '(')) return Call(token.text, value);
      const Value* variable = FindVariable(state_, AsciiUpper(token.text));
      if (variable == nullptr) return Fail("Unknown name: " + token.text);
      *value = *variable;
      return true;
    }
    case Token::Type::kSymbol:
      if (token.text == "(") {
        if (!Expression(value)) return false;
        const Token close = lexer_.Next();
        return IsSymbol(close, ')') || FailToken(close);
      }
      return FailToken(token);
    default:
      return FailToken(token);
  }
}

bool Statement::Call(const std::string& name, Value* value) {
  lexer_.Next();  // "("
  std::vector<Value> args;
  if (IsSymbol(lexer_.Peek(), ')')) {
    lexer_.Next();
  } else {
    if (!ExpressionList(&args)) return false;
    const Token close = lexer_.Next();
    if (!IsSymbol(close, ')')) return FailToken(close);
  }
  bool found = false;
  if (!CallBuiltin(AsciiUpper(name), args, value, &found)) return false;
  if (found) return true;
  if (!host_.HasLibraryFunction(name)) return Fail("Unknown function: " + name);
  return host_.CallLibraryFunction(name, args, value, &error_);
}

bool Statement::CallBuiltin(const std::string& upper, const std::vector<Value>& args, Value* value,
                            bool* found) {
  *found = true;
  if (upper == "CHR") {
    if (args.size() != 1 || !args[0].is_number()) return Fail("CHR takes one number.");
    const double n = args[0].number;
    if (!(n >= 0 && n <= 255) || n != std::floor(n)) return Fail("CHR argument out of range.");
    *value = Value::String(std::string(1, static_cast<char>(static_cast<unsigned char>(n))));
    return true;
  }
  if (upper == "LEN") {
    if (args.size() != 1 || !args[0].is_string()) return Fail("LEN takes one string.");
    *value = Value::Number(static_cast<double>(args[0].text.size()));
    return true;
  }
  if (upper == "REPLICATE") {
    if (args.size() != 2 || !args[0].is_string() || !args[1].is_number()) {
      return Fail("REPLICATE takes a string and a number.");
    }
    const double count = std::floor(args[1].number);
    if (!(count >= 0) || count * static_cast<double>(args[0].text.size()) > kMaxReplicateBytes) {
      return Fail("REPLICATE count out of range.");
    }
    std::string text;
    for (double i = 0; i < count; ++i) text += args[0].text;
    *value = Value::String(std::move(text));
    return true;
  }
  if (upper == "PULSE") {
    if (args.empty()) {
      *value = Value::String(host_.PulseText());
      return true;
    }
    if (args.size() != 1 || !args[0].is_number() || !(args[0].number >= 0) ||
        args[0].number > 60000) {
      return Fail("PULSE takes a number of milliseconds up to 60000, or nothing.");
    }
    *value = Value::Logical(host_.StartPulse(args[0].number));
    return true;
  }
  if (upper == "QPC") {
    // A character value, so that a script can post the time as a message and
    // compare it with the receiver's own QPC() (every process of one machine
    // reads the same counter).
    if (!args.empty()) return Fail("QPC takes no arguments.");
    *value = Value::String(std::to_string(clock_()));
    return true;
  }
  if (upper == "RESOURCES" || upper == "DESTROYWINDOW") {
    if (!args.empty()) return Fail(upper + " takes no arguments.");
    *value = upper == "RESOURCES" ? Value::String(host_.ResourceText())
                                  : Value::Logical(host_.DestroyMainWindow());
    return true;
  }
  if (upper == "CPCURRENT") {
    if (!args.empty()) return Fail("CPCURRENT takes no arguments.");
    *value = Value::Number(host_.CodePage());
    return true;
  }
  if (upper == "BINDEVENT") {
    if (args.size() != 1 || !args[0].is_number()) return Fail("BINDEVENT takes a message number.");
    if (!host_.BindEvent(args[0].number, &error_)) return false;
    *value = Value::Logical(true);
    return true;
  }
  if (upper == "UNBINDEVENTS") {
    if (!args.empty()) return Fail("UNBINDEVENTS takes no arguments.");
    if (!host_.UnbindEvents(&error_)) return false;
    *value = Value::Logical(true);
    return true;
  }
  if (upper == "SENDMESSAGE") {
    if (args.empty() || args.size() > 3) return Fail("SENDMESSAGE takes one to three numbers.");
    double numbers[3] = {0, 0, 0};
    for (size_t i = 0; i < args.size(); ++i) {
      if (!args[i].is_number()) return Fail("SENDMESSAGE takes one to three numbers.");
      numbers[i] = args[i].number;
    }
    *value = Value::Number(host_.SendToMainWindow(numbers[0], numbers[1], numbers[2]));
    return true;
  }
  if (upper == "MESSAGEBOX") {
    // MESSAGEBOX(text [, title] [, flags]): after the text, a string is the
    // title and a number the flags, in either order. Nothing modal is shown;
    // the box is written out and "OK" (1) is the answer.
    if (args.empty() || args.size() > 3 || !args[0].is_string()) {
      return Fail("MESSAGEBOX takes a text, then an optional title and flags.");
    }
    std::string title;
    double flags = 0;
    bool haveTitle = false, haveFlags = false;
    for (size_t i = 1; i < args.size(); ++i) {
      if (args[i].is_string() && !haveTitle) {
        title = args[i].text;
        haveTitle = true;
      } else if (args[i].is_number() && !haveFlags) {
        flags = args[i].number;
        haveFlags = true;
      } else {
        return Fail("MESSAGEBOX takes a text, then an optional title and flags.");
      }
    }
    host_.ShowMessageBox(args[0].text, title, flags);
    *value = Value::Number(1);
    return true;
  }
  *found = false;
  return true;
}

}  // namespace

void ScriptHost::RunProcedure(const std::string& name, const std::vector<Value>& args) {
  WriteLine(DoLine(name, args));
}

void ScriptHost::ShowMessageBox(const std::string& text, const std::string& title, double flags) {
  WriteLine(MessageBoxLine(text, title, flags));
}

bool Interpreter::Execute(const std::string& line, HostError* error) {
  const std::string defines = DefinedProcedure(line);
  if (!defines.empty()) {
    state_.defining = AsciiUpper(defines);
    state_.procedures[state_.defining].clear();
    return true;
  }
  if (!state_.defining.empty()) {
    if (EndsProcedure(line)) {
      state_.defining.clear();
    } else {
      state_.procedures[state_.defining].push_back(line);
    }
    return true;
  }
  Statement statement(host_, clock_, state_, line);
  return statement.Run(error);
}

void Interpreter::ExecuteLine(const std::string& line) {
  HostError error;
  if (!Execute(line, &error)) host_.ReportError(error);
}

}  // namespace zanvor
