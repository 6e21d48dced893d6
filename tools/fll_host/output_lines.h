// Formatting of the host's machine-readable output lines from the script
// language's values. Strings become JSON strings of common/text.h: one code
// point per byte.
#ifndef ZANVOR_TOOLS_FLL_HOST_OUTPUT_LINES_H_
#define ZANVOR_TOOLS_FLL_HOST_OUTPUT_LINES_H_

#include <string>
#include <vector>

#include "common/text.h"
#include "fll_host/value.h"

namespace zanvor {

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

#endif  // ZANVOR_TOOLS_FLL_HOST_OUTPUT_LINES_H_
