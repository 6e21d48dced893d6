#include "cli/text_output.h"

#include <cstdio>

namespace zanvor {

std::string MessageLine(const std::string& name, const std::string& message) {
  return EscapeForLine(name) + "\t" + EscapeForLine(message);
}

std::string UtcTimestamp(int64_t unixMilliseconds) {
  if (unixMilliseconds < 0) unixMilliseconds = 0;
  const int64_t days = unixMilliseconds / 86400000;
  const int64_t msOfDay = unixMilliseconds % 86400000;
  // Days to a civil date (H. Hinnant's days_from_civil, inverted), valid for
  // every day from 1970 on.
  const int64_t z = days + 719468;
  const int64_t era = z / 146097;
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[96];  // room for any int64 fields, to keep the compiler's truncation check quiet
  std::snprintf(
      text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ",
      static_cast<long long>(year), static_cast<long long>(month), static_cast<long long>(day),
      static_cast<long long>(msOfDay / 3600000), static_cast<long long>(msOfDay / 60000 % 60),
      static_cast<long long>(msOfDay / 1000 % 60), static_cast<long long>(msOfDay % 1000));
  return text;
}

std::string WindowText(uint32_t window) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(window));
  return text;
}

std::string Ipv4Text(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(address >> 24),
                static_cast<unsigned>(address >> 16 & 0xFF),
                static_cast<unsigned>(address >> 8 & 0xFF), static_cast<unsigned>(address & 0xFF));
  return text;
}

void JsonObject::Key(const char* key) {
  if (text_.size() > 1) text_ += ", ";
  text_ += JsonString(key);
  text_ += ": ";
}

JsonObject& JsonObject::Add(const char* key, const std::string& value) {
  Key(key);
  text_ += JsonString(value);
  return *this;
}

JsonObject& JsonObject::AddNumber(const char* key, uint64_t value) {
  Key(key);
  text_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::AddBool(const char* key, bool value) {
  Key(key);
  text_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::AddRaw(const char* key, const std::string& json) {
  Key(key);
  text_ += json;
  return *this;
}

}  // namespace zanvor
