// Script values of the host's small FoxPro-like language. Strings are byte
// strings in the ANSI code page: nothing here assumes UTF-8.
#ifndef ZANVOR_TOOLS_FLL_HOST_VALUE_H_
#define ZANVOR_TOOLS_FLL_HOST_VALUE_H_

#include <string>
#include <utility>

namespace zanvor {

struct Value {
  enum class Kind { kString, kNumber, kLogical };

  Kind kind = Kind::kLogical;
  std::string text;
  double number = 0;
  bool logical = true;

  static Value String(std::string s) {
    Value v;
    v.kind = Kind::kString;
    v.text = std::move(s);
    return v;
  }
  static Value Number(double n) {
    Value v;
    v.kind = Kind::kNumber;
    v.number = n;
    return v;
  }
  static Value Logical(bool b) {
    Value v;
    v.kind = Kind::kLogical;
    v.logical = b;
    return v;
  }

  bool is_string() const { return kind == Kind::kString; }
  bool is_number() const { return kind == Kind::kNumber; }
};

// An error as the host reports it: a text error (number 0: raised by the
// library with its own text, or found by the host itself) or a numbered host
// error (raised by the library by number; the host supplies the text).
struct HostError {
  int number = 0;
  std::string text;

  static HostError Text(std::string t) { return HostError{0, std::move(t)}; }
};

}  // namespace zanvor

#endif  // ZANVOR_TOOLS_FLL_HOST_VALUE_H_
