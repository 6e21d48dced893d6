#include "stand_in_host/json_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zanvor {

std::string JsonString(const std::string& bytes) {
  std::string out = "\"";
  for (const char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    switch (b) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (b < 0x20 || b >= 0x80) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", b);
          out += escape;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

std::string FormatNumber(double n) {
  char buffer[40];
  if (std::isfinite(n) && n == std::floor(n) && std::fabs(n) < 1e15) {
    std::snprintf(buffer, sizeof buffer, "%.0f", n);
    // "-0" reads oddly and means the same as 0 to every caller.
    if (buffer[0] == '-' && buffer[1] == '0' && buffer[2] == 0) return "0";
    return buffer;
  }
  if (!std::isfinite(n)) return std::isnan(n) ? "NaN" : (n > 0 ? "Infinity" : "-Infinity");
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(buffer, sizeof buffer, "%.*g", precision, n);
    if (std::strtod(buffer, nullptr) == n) break;
  }
  return buffer;
}

std::string JsonValue(const Value& value) {
  switch (value.kind) {
    case Value::Kind::kString:
      return JsonString(value.text);
    case Value::Kind::kNumber:
      // JSON has no spelling for these; null keeps the line parseable.
      return std::isfinite(value.number) ? FormatNumber(value.number) : "null";
    case Value::Kind::kLogical:
      return value.logical ? "true" : "false";
  }
  return "null";
}

std::string JsonArray(const std::vector<Value>& values) {
  std::string out = "[";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += ", ";
    out += JsonValue(values[i]);
  }
  out += ']';
  return out;
}

std::string PlainText(const Value& value) {
  switch (value.kind) {
    case Value::Kind::kString:
      return value.text;
    case Value::Kind::kNumber:
      return FormatNumber(value.number);
    case Value::Kind::kLogical:
      return value.logical ? ".T." : ".F.";
  }
  return std::string();
}

std::string DoLine(const std::string& name, const std::vector<Value>& args) {
  return "DO " + name + "(" + JsonArray(args) + ")";
}

std::string MessageBoxLine(const std::string& text, const std::string& title, double flags) {
  return "MESSAGEBOX {\"text\": " + JsonString(text) + ", \"title\": " + JsonString(title) +
         ", \"flags\": " + JsonValue(Value::Number(flags)) + "}";
}

std::string ErrorLine(const HostError& error) {
  if (error.number == 0) return "Error: " + JsonString(error.text);
  return "Error " + std::to_string(error.number) + ": " + JsonString(error.text);
}

}  // namespace zanvor
