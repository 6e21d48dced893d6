#include "fll_host/output_lines.h"

#include <cmath>

namespace zanvor {

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
