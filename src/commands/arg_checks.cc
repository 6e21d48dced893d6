#include "commands/arg_checks.h"

#include <cstdio>
#include <utility>

#include "commands/handler_command.h"
#include "registry/subscription_table.h"

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

std::string CheckPostText(const std::string& name, const std::string& message, std::string* text,
                          LeadByteTest isLeadByte) {
  std::string error = CheckSubscribableName(name);
  if (!error.empty()) return error;
  std::string joined = name + ":" + message;
  const size_t colon = FindMultibyte(joined, ":", isLeadByte);
  // Without a ":" on a character boundary (a name ending in a lead byte
  // swallows the one added) the receivers find no name; count it all.
  const size_t counted = colon == std::string::npos ? joined.size() : joined.size() - colon - 1;
  if (counted > kMaxMessageLength) {
    return FormatNumber("Message is too long. %d chars is max.", kMaxMessageLength);
  }
  *text = std::move(joined);
  return std::string();
}

}  // namespace zanvor
