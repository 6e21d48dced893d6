#include "commands/handler_command.h"

#include <algorithm>
#include <cstdint>

namespace zanvor {
namespace {

// "&" is cut out like the quote: the host expands "&name" macros inside
// the literals of a command it compiles at run time, so a message "AT&T" or
// "&lcPassword" would otherwise reach the handler with a variable's value
// spliced in, and a crafted one could splice in command text.
bool IsCutByte(char c) { return c == '"' || c == '\r' || c == '\n' || c == '&'; }

const char* CutByteExpression(char c) {
  switch (c) {
    case '"':
      return "CHR(34)";
    case '\r':
      return "CHR(13)";
    case '&':
      return "CHR(38)";
    default:
      return "CHR(10)";
  }
}

void AppendPart(const std::string& part, std::string* expression) {
  if (!expression->empty()) expression->push_back('+');
  expression->append(part);
}

// The length of the next literal taken from run[begin..end): at most
// kMaxHostLiteral bytes, shortened by one when that would cut a double-byte
// character in two (the host might read the closing quote as its trail byte).
size_t LiteralLength(const std::string& run, size_t begin, size_t end, LeadByteTest isLeadByte) {
  const size_t length = std::min(kMaxHostLiteral, end - begin);
  if (isLeadByte == nullptr || begin + length == end) return length;
  size_t i = begin;
  size_t lastStart = begin;
  while (i < begin + length) {
    lastStart = i;
    const bool lead = i + 1 < end && isLeadByte(static_cast<uint8_t>(run[i]));
    i += lead ? 2 : 1;
  }
  return i > begin + length ? lastStart - begin : length;
}

// True when text[begin..end), read by characters from `begin`, ends with a
// lead byte whose trail byte would lie past `end`.
bool EndsOnLoneLeadByte(const std::string& text, size_t begin, size_t end,
                        LeadByteTest isLeadByte) {
  if (isLeadByte == nullptr) return false;
  size_t i = begin;
  while (i < end) {
    if (!isLeadByte(static_cast<uint8_t>(text[i]))) {
      ++i;
    } else if (i + 1 == end) {
      return true;
    } else {
      i += 2;
    }
  }
  return false;
}

// A lone lead byte at the end of a run goes out as CHR(n): inside the
// literal, a host reading by characters would take the closing quote as its
// trail byte and never see the string end.
void AppendRun(const std::string& message, size_t begin, size_t end, LeadByteTest isLeadByte,
               std::string* expression) {
  const bool loneLead = EndsOnLoneLeadByte(message, begin, end, isLeadByte);
  const size_t literalEnd = loneLead ? end - 1 : end;
  while (begin < literalEnd) {
    const size_t length = LiteralLength(message, begin, literalEnd, isLeadByte);
    AppendPart('"' + message.substr(begin, length) + '"', expression);
    begin += length;
  }
  if (loneLead) {
    AppendPart("CHR(" + std::to_string(static_cast<uint8_t>(message[literalEnd])) + ")",
               expression);
  }
}

}  // namespace

std::string HostStringExpression(const std::string& message, LeadByteTest isLeadByte) {
  bool plain = message.size() <= kMaxHostLiteral &&
               !EndsOnLoneLeadByte(message, 0, message.size(), isLeadByte);
  for (const char c : message) plain = plain && !IsCutByte(c);
  if (plain) return '"' + message + '"';

  // The cut happens at every cut byte, also right after a lead byte: left
  // inside a literal, such a byte would end it, break the command line or
  // start a macro, whatever the code page makes of it.
  std::string expression;
  size_t runStart = 0;
  for (size_t i = 0; i < message.size(); ++i) {
    if (!IsCutByte(message[i])) continue;
    AppendRun(message, runStart, i, isLeadByte, &expression);
    AppendPart(CutByteExpression(message[i]), &expression);
    runStart = i + 1;
  }
  AppendRun(message, runStart, message.size(), isLeadByte, &expression);
  return expression;
}

bool BuildHandlerCommand(const std::string& handler, const std::string& message,
                         std::string* command, LeadByteTest isLeadByte) {
  if (handler.empty()) return false;
  const std::string keyword = kMessageKeyword;
  const size_t at = FindMultibyte(handler, keyword, isLeadByte);
  if (at == std::string::npos) return false;
  *command = handler.substr(0, at) + HostStringExpression(message, isLeadByte) +
             handler.substr(at + keyword.size());
  return true;
}

}  // namespace zanvor
