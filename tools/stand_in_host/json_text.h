// Formatting of the host's machine-readable output lines. Strings become JSON
// string literals in which every byte stands for one code point (bytes 0x80
// and above as \u00XX), so a reader decoding the line as Latin-1 gets the
// exact bytes back.
#ifndef ZANVOR_TOOLS_STAND_IN_HOST_JSON_TEXT_H_
#define ZANVOR_TOOLS_STAND_IN_HOST_JSON_TEXT_H_

#include <string>
#include <vector>

#include "stand_in_host/value.h"

namespace zanvor {

std::string JsonString(const std::string& bytes);
// Integral values without a fraction; others with enough digits to read the
// same double back.
std::string FormatNumber(double n);
std::string JsonValue(const Value& value);
std::string JsonArray(const std::vector<Value>& values);
// What `?` prints: string bytes unchanged, numbers as FormatNumber, logicals
// as .T. and .F.
std::string PlainText(const Value& value);

// The output lines (without the line end).
std::string DoLine(const std::string& name, const std::vector<Value>& args);
std::string MessageBoxLine(const std::string& text, const std::string& title, double flags);
std::string ErrorLine(const HostError& error);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_STAND_IN_HOST_JSON_TEXT_H_
