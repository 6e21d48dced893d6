#include "commands/arg_checks.h"

#include <cstdio>

#include "commands/handler_command.h"

namespace zanvor {
namespace {

std::string FormatNumber(const char* format, size_t number) {
  char text[96];
  std::snprintf(text, sizeof text, format, static_cast<int>(number));
  return text;
}

}  // namespace

std::string CheckSubscriptionName(const std::string& name) {
  if (name.empty()) return "Subscription name is empty.";
  if (name.size() > kMaxNameLength) {
    return FormatNumber("Subscription name is too long. %d chars is max.", kMaxNameLength);
  }
  return std::string();
}

// Byte by byte, whatever the code page: no double-byte code page of Windows
// takes 0x3A as a trail byte, and a network post is split by receivers on
// other machines, in their own code page.
std::string CheckSubscribableName(const std::string& name) {
  std::string error = CheckSubscriptionName(name);
  if (error.empty() && name.find(':') != std::string::npos) {
    error = "Subscription name cannot contain a colon.";
  }
  return error;
}

std::string MessageTooLongText() {
  return FormatNumber("Message is too long. %d chars is max.", kMaxMessageLength);
}

std::string CheckHandler(const std::string& handler, LeadByteTest isLeadByte) {
  if (FindMultibyte(handler, kMessageKeyword, isLeadByte) == std::string::npos) {
    char text[96];
    std::snprintf(text, sizeof text, "Function does not have %s keyword.", kMessageKeyword);
    return text;
  }
  if (handler.size() > kMaxHandlerLength) {
    return FormatNumber("Function name is too long. %d chars is max.", kMaxHandlerLength);
  }
  return std::string();
}

// The message is measured on its own, not after a ":" searched for in the
// joined text: in a double-byte code page a name ending in a lead byte (what
// LEFT() leaves of a cut character) takes the added ":" as its trail byte,
// and a search by characters then finds a ":" inside the message and counts
// only what follows it.
std::string CheckPostText(const std::string& name, const std::string& message, std::string* text) {
  std::string error = CheckSubscribableName(name);
  if (!error.empty()) return error;
  if (message.size() > kMaxMessageLength) return MessageTooLongText();
  *text = name + ":" + message;
  return std::string();
}

}  // namespace zanvor
