#include "common/text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zanvor {
namespace {

// The escapes JSON and the plain lines share; they differ in what they do
// with the other control bytes and with the bytes from 0x80 on.
enum class Escaping { kJson, kLine };

std::string Escape(const std::string& bytes, Escaping escaping) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    switch (b) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default: {
        char escape[8];
        if (escaping == Escaping::kJson && (b < 0x20 || b >= 0x80)) {
          std::snprintf(escape, sizeof escape, "\\u%04x", b);
          out += escape;
        } else if (escaping == Escaping::kLine && (b < 0x20 || b == 0x7F)) {
          std::snprintf(escape, sizeof escape, "\\x%02X", b);
          out += escape;
        } else {
          out += c;
        }
      }
    }
  }
  return out;
}

}  // namespace

std::string JsonString(const std::string& bytes) {
  return "\"" + Escape(bytes, Escaping::kJson) + "\"";
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

std::string EscapeForLine(const std::string& bytes) { return Escape(bytes, Escaping::kLine); }

std::string SingleLine(const std::string& text) {
  std::string out;
  bool pendingBlank = false;
  for (const char c : text) {
    if (c == '\r' || c == '\n') {
      pendingBlank = true;
      continue;
    }
    if (pendingBlank && !out.empty() && out.back() != ' ' && c != ' ') out += ' ';
    pendingBlank = false;
    out += c;
  }
  const size_t begin = out.find_first_not_of(' ');
  if (begin == std::string::npos) return std::string();
  return out.substr(begin, out.find_last_not_of(' ') - begin + 1);
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string AsciiUpper(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

}  // namespace zanvor
