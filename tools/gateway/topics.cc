#include "gateway/topics.h"

#include <vector>

namespace zanvor {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void AppendEscaped(unsigned char byte, std::string* out) {
  *out += '%';
  *out += kHexDigits[byte >> 4];
  *out += kHexDigits[byte & 0x0F];
}

std::vector<std::string> Levels(const std::string& text) {
  std::vector<std::string> levels;
  size_t start = 0;
  for (;;) {
    const size_t slash = text.find('/', start);
    levels.push_back(text.substr(start, slash - start));
    if (slash == std::string::npos) return levels;
    start = slash + 1;
  }
}

}  // namespace

std::string EscapeTopicName(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    // U+0080..U+009F are C2 80..C2 9F: both bytes are written escaped.
    const bool c1Control = c == 0xC2 && i + 1 < utf8.size() &&
                           static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                           static_cast<unsigned char>(utf8[i + 1]) <= 0x9F;
    if (c1Control) {
      AppendEscaped(c, &out);
      AppendEscaped(static_cast<unsigned char>(utf8[++i]), &out);
    } else if (c < 0x20 || c == 0x7F || c == '%' || c == '+' || c == '#') {
      AppendEscaped(c, &out);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool UnescapeTopicName(const std::string& topicName, std::string* bytes) {
  bytes->clear();
  for (size_t i = 0; i < topicName.size(); ++i) {
    if (topicName[i] != '%') {
      *bytes += topicName[i];
      continue;
    }
    if (i + 2 >= topicName.size()) return false;
    const int high = HexValue(topicName[i + 1]);
    const int low = HexValue(topicName[i + 2]);
    if (high < 0 || low < 0) return false;
    *bytes += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

bool IsValidTopicFilter(const std::string& filter) {
  if (filter.empty()) return false;
  const std::vector<std::string> levels = Levels(filter);
  for (size_t i = 0; i < levels.size(); ++i) {
    const std::string& level = levels[i];
    if (level.find_first_of("+#") == std::string::npos) continue;
    if (level.size() != 1) return false;
    if (level == "#" && i + 1 != levels.size()) return false;
  }
  return true;
}

bool TopicMatchesFilter(const std::string& topicName, const std::string& filter) {
  const std::vector<std::string> topic = Levels(topicName);
  const std::vector<std::string> wanted = Levels(filter);
  for (size_t i = 0; i < wanted.size(); ++i) {
    if (wanted[i] == "#") return true;
    if (i >= topic.size()) return false;
    if (wanted[i] != "+" && wanted[i] != topic[i]) return false;
  }
  return topic.size() == wanted.size();
}

}  // namespace zanvor
