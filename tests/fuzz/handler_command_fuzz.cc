// Handler commands built from random handlers and messages, run through the
// stand-in host's own interpreter: the command must parse, and the value that
// stands for "<Msg>" must be the message byte for byte. With code page 932's
// lead bytes the command is also read by characters, as a host in that code
// page reads it: every string literal must close there too. The interpreter
// substitutes macros as the host does, and every name the message puts after
// an "&" is a character variable there (besides a few fixed ones), so a
// message's "&" left where the host expands it would change the value.
//
// Input (FuzzedDataProvider): whether lead bytes are those of code page 932,
// the handler's shape, then the parts of the handler and the message.
// Shapes 0-2 wrap the keyword in a command whose result is known
// ("DO name WITH ...", "=CAPTURE(...)", "? ..."), with random arguments
// around it and an optional comment; shape 3 is a handler of random bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands/handler_command.h"
#include "commands/multibyte_search.h"
#include "fll_host/interpreter.h"
#include "fll_host/lexer.h"
#include "fll_host/output_lines.h"
#include "fuzz/fuzz_input.h"

namespace {

using zanvor::LeadByteTest;
using zanvor::Value;

using zanvor::fuzz::Check;

bool Cp932LeadByte(uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || byte >= 0xE0; }

bool IsLead(LeadByteTest isLeadByte, char c) {
  return isLeadByte != nullptr && isLeadByte(static_cast<uint8_t>(c));
}

// Records what a command did; CAPTURE(...) is the one library function.
class RecordingHost : public zanvor::ScriptHost {
 public:
  void WriteLine(const std::string& line) override { lines.push_back(line); }
  void WriteDebugLine(const std::string& line) override { lines.push_back(line); }
  void ReportError(const zanvor::HostError&) override {}
  bool HasLibraryFunction(const std::string& name) override {
    return zanvor::AsciiUpper(name) == "CAPTURE";
  }
  bool CallLibraryFunction(const std::string&, const std::vector<Value>& args, Value* result,
                           zanvor::HostError*) override {
    captured = args;
    ++captures;
    *result = Value::Logical(true);
    return true;
  }
  bool SetLibrary(const std::string&, zanvor::HostError* error) override { return Refuse(error); }
  bool ReleaseLibrary(zanvor::HostError* error) override { return Refuse(error); }
  bool ListFunctions(zanvor::HostError* error) override { return Refuse(error); }
  void DoEvents(double) override {}
  void Quit() override {}

  std::vector<std::string> lines;
  std::vector<Value> captured;
  int captures = 0;

 private:
  static bool Refuse(zanvor::HostError* error) {
    *error = zanvor::HostError::Text("not here");
    return false;
  }
};

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

// Assignments that make a character variable of every name after an "&" in
// `message`, and of a few names a program might have, each valued with text
// that shows where it was spliced in.
std::vector<std::string> DefineMacroVariables(const std::string& message) {
  std::vector<std::string> lines = {"T = 'spliced'", "lcPassword = 'secret'",
                                    "x = [\"+CHR(65)+\"]"};
  for (size_t i = 0; i + 1 < message.size(); ++i) {
    if (message[i] != '&' || !IsNameStart(message[i + 1])) continue;
    size_t end = i + 1;
    while (end < message.size() && IsNameChar(message[end])) ++end;
    lines.push_back(message.substr(i + 1, end - i - 1) + " = '(spliced)'");
  }
  return lines;
}

// Runs the variables' assignments, then the command, in one interpreter.
bool Run(const std::vector<std::string>& variables, const std::string& command,
         RecordingHost& host) {
  zanvor::Interpreter interpreter(host, [] { return uint64_t{0}; });
  zanvor::HostError error;
  for (const std::string& line : variables) {
    Check(interpreter.Execute(line, &error), "a variable's assignment failed");
  }
  host.lines.clear();
  return interpreter.Execute(command, &error);
}

bool SameValues(const std::vector<Value>& a, const std::vector<Value>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].kind != b[i].kind || a[i].text != b[i].text || a[i].number != b[i].number) {
      return false;
    }
  }
  return true;
}

// Where the first "<Msg>" starts when the handler is read character by
// character, or npos.
size_t KeywordAt(const std::string& handler, LeadByteTest isLeadByte) {
  const std::string keyword = zanvor::kMessageKeyword;
  for (size_t i = 0; i < handler.size(); i += IsLead(isLeadByte, handler[i]) ? 2 : 1) {
    if (handler.compare(i, keyword.size(), keyword) == 0) return i;
  }
  return std::string::npos;
}

// Reads `text` as a host in the code page does, character by character, up to
// a "&&" comment outside literals. False when a literal never closes or holds
// more than the host's longest literal.
bool LiteralsCloseByCharacters(const std::string& text, LeadByteTest isLeadByte) {
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '&' && i + 1 < text.size() && text[i + 1] == '&') return true;
    if (c != '"' && c != '\'' && c != '[') {
      i += IsLead(isLeadByte, c) ? 2 : 1;
      continue;
    }
    const char close = c == '[' ? ']' : c;
    const size_t start = ++i;
    while (i < text.size() && text[i] != close) i += IsLead(isLeadByte, text[i]) ? 2 : 1;
    if (i >= text.size()) return false;
    if (i - start > zanvor::kMaxHostLiteral) return false;
    ++i;
  }
  return true;
}

// One argument around the keyword: a number or a literal whose contents
// close under both readings (no closing delimiter, no lead byte left
// without its trail). Before the keyword a literal holds no "<", so the
// keyword the builder finds is the one the shape put there. No literal holds
// an "&": the handler's own text is the program's, macros and all.
std::string Argument(FuzzedDataProvider& in, LeadByteTest isLeadByte, bool beforeKeyword,
                     Value* value) {
  const int kind = in.ConsumeIntegralInRange(0, 4);
  if (kind == 0) {
    const int n = in.ConsumeIntegralInRange(0, 999);
    *value = Value::Number(n);
    return std::to_string(n);
  }
  if (kind == 1 && !beforeKeyword) {
    *value = Value::String(zanvor::kMessageKeyword);
    return std::string("'") + zanvor::kMessageKeyword + "'";
  }
  const char open = "\"'["[kind % 3];
  const char close = open == '[' ? ']' : open;
  const std::string raw = in.ConsumeRandomLengthString(40);
  std::string contents;
  for (size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == close || c == '&' || (beforeKeyword && c == '<')) continue;
    if (!IsLead(isLeadByte, c)) {
      contents += c;
    } else if (i + 1 < raw.size() && raw[i + 1] != close && raw[i + 1] != '&') {
      contents += c;
      contents += raw[++i];
    }
  }
  *value = Value::String(contents);
  return open + contents + close;
}

std::string Arguments(FuzzedDataProvider& in, LeadByteTest isLeadByte, bool beforeKeyword,
                      std::vector<Value>* values) {
  std::string text;
  const int count = in.ConsumeIntegralInRange(0, 2);
  for (int i = 0; i < count; ++i) {
    Value value;
    const std::string arg = Argument(in, isLeadByte, beforeKeyword, &value);
    text += beforeKeyword ? arg + ", " : ", " + arg;
    values->push_back(value);
  }
  return text;
}

std::string ProcedureName(FuzzedDataProvider& in) {
  static const char kNameChars[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_0123456789";
  std::string name(1, kNameChars[in.ConsumeIntegralInRange(0, 52)]);
  const int extra = in.ConsumeIntegralInRange(0, 7);
  for (int i = 0; i < extra; ++i) name += kNameChars[in.ConsumeIntegralInRange(0, 62)];
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const LeadByteTest isLeadByte = in.ConsumeBool() ? Cp932LeadByte : nullptr;
  const int shape = in.ConsumeIntegralInRange(0, 3);
  const std::string message = in.ConsumeRandomLengthString(1200);

  // The handler, and for shapes 0-2 the arguments its command passes.
  std::string handler;
  std::string procedure;
  std::vector<Value> args;
  if (shape == 3) {
    handler = in.ConsumeRandomLengthString(300);
  } else {
    const std::string before = Arguments(in, isLeadByte, true, &args);
    args.push_back(Value::String(message));
    const std::string after = Arguments(in, isLeadByte, false, &args);
    if (shape == 0) {
      procedure = ProcedureName(in);
      handler = "DO " + procedure + " WITH " + before + zanvor::kMessageKeyword + after;
    } else if (shape == 1) {
      handler = "=CAPTURE(" + before + zanvor::kMessageKeyword + after + ")";
    } else {
      handler = "? " + before + zanvor::kMessageKeyword + after;
    }
    if (in.ConsumeBool()) handler += " && " + in.ConsumeRandomLengthString(60);
  }

  std::string command = "untouched";
  const bool built = zanvor::BuildHandlerCommand(handler, message, &command, isLeadByte);
  const size_t at = KeywordAt(handler, isLeadByte);
  Check(built == (at != std::string::npos), "built without a keyword, or not built with one");
  if (!built) {
    Check(command == "untouched", "a refused handler changed the command");
    return 0;
  }

  // Only the first keyword is replaced; the rest of the handler is kept.
  const size_t suffixLength = handler.size() - at - 5;
  Check(command.size() >= at + suffixLength, "command shorter than the handler around <Msg>");
  Check(command.compare(0, at, handler, 0, at) == 0, "text before <Msg> changed");
  Check(command.compare(command.size() - suffixLength, suffixLength, handler, at + 5,
                        suffixLength) == 0,
        "text after <Msg> changed");
  const std::string expression = command.substr(at, command.size() - at - suffixLength);
  Check(expression.find('&') == std::string::npos, "the expression holds an \"&\"");

  // The expression on its own evaluates to the message, under both readings.
  const std::vector<std::string> variables = DefineMacroVariables(message);
  RecordingHost alone;
  Check(Run(variables, "=CAPTURE(" + expression + ")", alone), "the expression does not parse");
  Check(alone.captures == 1 && alone.captured.size() == 1, "the expression is not one value");
  Check(alone.captured[0].is_string() && alone.captured[0].text == message,
        "the expression's value is not the message");
  Check(LiteralsCloseByCharacters(expression, isLeadByte),
        "a literal of the expression does not close when read by characters");

  if (shape == 3) return 0;
  // The whole command runs and passes the message where <Msg> stood.
  Check(LiteralsCloseByCharacters(command, isLeadByte),
        "a literal of the command does not close when read by characters");
  RecordingHost host;
  Check(Run(variables, command, host), "the command does not parse");
  if (shape == 0) {
    Check(host.lines.size() == 1 && host.lines[0] == zanvor::DoLine(procedure, args),
          "DO did not receive the arguments");
  } else if (shape == 1) {
    Check(host.captures == 1 && SameValues(host.captured, args),
          "the call did not receive the arguments");
  } else {
    std::string line;
    for (size_t i = 0; i < args.size(); ++i)
      line += (i > 0 ? " " : "") + zanvor::PlainText(args[i]);
    Check(host.lines.size() == 1 && host.lines[0] == line, "? printed something else");
  }
  return 0;
}
