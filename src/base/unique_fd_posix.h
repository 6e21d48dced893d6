// A move-only owner for a POSIX file descriptor (sockets included), the
// native build's counterpart of UniqueSocket. Closing keeps errno, so an
// owner going out of scope between a failing call and the look at errno
// cannot change what the caller reads.
#ifndef ZANVOR_BASE_UNIQUE_FD_POSIX_H_
#define ZANVOR_BASE_UNIQUE_FD_POSIX_H_

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace zanvor {

class UniqueFd {
 public:
  UniqueFd() noexcept = default;
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  ~UniqueFd() { reset(); }

  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }
  explicit operator bool() const noexcept { return valid(); }

  int release() noexcept { return std::exchange(fd_, -1); }

  // Closes the held descriptor first, then takes the new one.
  void reset(int fd = -1) noexcept {
    const int old = std::exchange(fd_, fd);
    if (old >= 0) {
      const int savedErrno = errno;
      ::close(old);
      errno = savedErrno;
    }
  }

 private:
  int fd_ = -1;
};

}  // namespace zanvor

#endif  // ZANVOR_BASE_UNIQUE_FD_POSIX_H_
