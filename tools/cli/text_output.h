// How the tool writes what it found: plain lines for people, one JSON object
// per line for programs, and where the lines go (a seam, so that the verbs'
// portable logic runs natively against a recording fake).
#ifndef ZANVOR_TOOLS_CLI_TEXT_OUTPUT_H_
#define ZANVOR_TOOLS_CLI_TEXT_OUTPUT_H_

#include <cstdint>
#include <string>

#include "common/text.h"

namespace zanvor {

// Standard output and standard error, one line per call (the line end is
// added), written at once so that a reader sees each line when it is made.
class ToolOutput {
 public:
  virtual ~ToolOutput() = default;
  virtual void Out(const std::string& line) = 0;
  virtual void Err(const std::string& line) = 0;
};

// The plain line of one received message: NAME, a tab, MESSAGE, escaped
// (EscapeForLine).
std::string MessageLine(const std::string& name, const std::string& message);

// An ISO 8601 UTC time with milliseconds ("2026-12-08T13:55:01.123Z") from
// milliseconds since 1970-01-01 (times before it are not written; 0 is).
std::string UtcTimestamp(int64_t unixMilliseconds);

// "0x0001002E": a window handle as Windows tools show one.
std::string WindowText(uint32_t window);

// A dotted IPv4 address from a host-order value.
std::string Ipv4Text(uint32_t address);

// One JSON object, its members in the order added. Strings are JsonString's:
// one code point per byte.
class JsonObject {
 public:
  JsonObject& Add(const char* key, const std::string& value);
  JsonObject& Add(const char* key, const char* value) { return Add(key, std::string(value)); }
  JsonObject& AddNumber(const char* key, uint64_t value);
  JsonObject& AddBool(const char* key, bool value);
  // `json` must be one JSON value (an object, an array, null).
  JsonObject& AddRaw(const char* key, const std::string& json);
  std::string Text() const { return text_ + "}"; }

 private:
  void Key(const char* key);
  std::string text_ = "{";
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_CLI_TEXT_OUTPUT_H_
