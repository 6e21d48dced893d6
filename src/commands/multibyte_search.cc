#include "commands/multibyte_search.h"

namespace zanvor {

size_t FindMultibyte(const std::string& haystack, const std::string& needle,
                     LeadByteTest isLeadByte) {
  size_t i = 0;
  while (i + needle.size() <= haystack.size()) {
    if (haystack.compare(i, needle.size(), needle) == 0) return i;
    // A lead byte as the very last byte has no trail byte to skip.
    const bool lead = isLeadByte != nullptr && i + 1 < haystack.size() &&
                      isLeadByte(static_cast<uint8_t>(haystack[i]));
    i += lead ? 2 : 1;
  }
  return std::string::npos;
}

void SplitNameMessage(const std::string& text, std::string* name, std::string* message) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) {
    name->clear();
    *message = text;
    return;
  }
  *name = text.substr(0, colon);
  *message = text.substr(colon + 1);
}

}  // namespace zanvor
