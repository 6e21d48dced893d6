// What every fuzz target here shares: reading its input byte by byte, and
// ending the run loudly when a property does not hold.
#ifndef ZANVOR_TESTS_FUZZ_FUZZ_INPUT_H_
#define ZANVOR_TESTS_FUZZ_FUZZ_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace zanvor {
namespace fuzz {

using Bytes = std::vector<uint8_t>;

inline void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// The input as a stream; past its end every byte reads as 0 and every take
// comes back short.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool AtEnd() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  Bytes Take(size_t n) {
    const size_t count = n < size_ - pos_ ? n : size_ - pos_;
    Bytes bytes(data_ + pos_, data_ + pos_ + count);
    pos_ += count;
    return bytes;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace fuzz
}  // namespace zanvor

#endif  // ZANVOR_TESTS_FUZZ_FUZZ_INPUT_H_
