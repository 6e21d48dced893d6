#include <errno.h>
#include <iconv.h>

#include <cstring>

#include "gateway/charset.h"

namespace zanvor {
namespace {

// One iconv descriptor, closed with its owner.
class UniqueIconv {
 public:
  UniqueIconv() = default;
  explicit UniqueIconv(iconv_t cd) : cd_(cd) {}
  ~UniqueIconv() {
    if (valid()) iconv_close(cd_);
  }
  UniqueIconv(UniqueIconv&& other) noexcept : cd_(other.cd_) { other.cd_ = Invalid(); }
  UniqueIconv& operator=(UniqueIconv&& other) noexcept {
    if (this != &other) {
      if (valid()) iconv_close(cd_);
      cd_ = other.cd_;
      other.cd_ = Invalid();
    }
    return *this;
  }
  UniqueIconv(const UniqueIconv&) = delete;
  UniqueIconv& operator=(const UniqueIconv&) = delete;

  bool valid() const { return cd_ != Invalid(); }
  iconv_t get() const { return cd_; }

 private:
  static iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }
  iconv_t cd_ = Invalid();
};

bool Convert(iconv_t cd, const std::string& in, std::string* out) {
  // Back to the initial shift state: a failed text must not leave one
  // behind for the next (stateful code pages).
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  out->clear();
  char* from = const_cast<char*>(in.data());
  size_t fromLeft = in.size();
  char buffer[1024];
  for (;;) {
    char* to = buffer;
    size_t toLeft = sizeof buffer;
    const size_t n = iconv(cd, fromLeft > 0 ? &from : nullptr, &fromLeft, &to, &toLeft);
    out->append(buffer, sizeof buffer - toLeft);
    if (n == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      return false;  // EILSEQ: no counterpart; EINVAL: cut inside a character
    }
    // glibc counts characters converted "irreversibly" (to a stand-in)
    // instead of failing: those did not convert either.
    if (n != 0) return false;
    if (fromLeft == 0) break;
  }
  // The shift sequence back to the initial state, for stateful targets.
  char* to = buffer;
  size_t toLeft = sizeof buffer;
  if (iconv(cd, nullptr, nullptr, &to, &toLeft) == static_cast<size_t>(-1)) return false;
  out->append(buffer, sizeof buffer - toLeft);
  return true;
}

class IconvCharset final : public Charset {
 public:
  IconvCharset(UniqueIconv toUtf8, UniqueIconv fromUtf8)
      : toUtf8_(std::move(toUtf8)), fromUtf8_(std::move(fromUtf8)) {}
  bool ToUtf8(const std::string& text, std::string* utf8) override {
    return Convert(toUtf8_.get(), text, utf8);
  }
  bool FromUtf8(const std::string& utf8, std::string* text) override {
    return Convert(fromUtf8_.get(), utf8, text);
  }

 private:
  UniqueIconv toUtf8_;
  UniqueIconv fromUtf8_;
};

}  // namespace

std::unique_ptr<Charset> OpenCharset(const std::string& name, std::string* error) {
  // "//" would pass iconv's own suffixes (//TRANSLIT, //IGNORE), which make
  // texts that do not convert look converted.
  if (name.empty() || name.find('/') != std::string::npos) {
    *error = "unknown charset \"" + name + "\"";
    return nullptr;
  }
  UniqueIconv toUtf8(iconv_open("UTF-8", name.c_str()));
  UniqueIconv fromUtf8(iconv_open(name.c_str(), "UTF-8"));
  if (!toUtf8.valid() || !fromUtf8.valid()) {
    *error = "unknown charset \"" + name + "\" (iconv --list shows the known ones)";
    return nullptr;
  }
  return std::make_unique<IconvCharset>(std::move(toUtf8), std::move(fromUtf8));
}

}  // namespace zanvor
