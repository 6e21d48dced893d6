// The conversion between the FoxPro machines' ANSI code page and UTF-8, the
// MQTT side's only encoding. One edge (charset_posix.cc, iconv); the
// gateway's rules see only this interface.
#ifndef ZANVOR_TOOLS_GATEWAY_CHARSET_H_
#define ZANVOR_TOOLS_GATEWAY_CHARSET_H_

#include <memory>
#include <string>

namespace zanvor {

constexpr char kDefaultCharset[] = "windows-1252";

class Charset {
 public:
  virtual ~Charset() = default;
  // Whole texts only: false when any byte or character has no counterpart
  // (e.g. one of the five bytes windows-1252 leaves undefined, invalid
  // UTF-8, a character the code page lacks); *out is then unspecified.
  virtual bool ToUtf8(const std::string& text, std::string* utf8) = 0;
  virtual bool FromUtf8(const std::string& utf8, std::string* text) = 0;
};

// The charset called `name` (as iconv names them: windows-1252, CP932,
// ISO-8859-2, ...), or nullptr with *error when there is none such.
std::unique_ptr<Charset> OpenCharset(const std::string& name, std::string* error);

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_GATEWAY_CHARSET_H_
