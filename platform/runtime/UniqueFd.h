#pragma once

#include <unistd.h>

#include <utility>

namespace zr::rt {

// Owns one file descriptor and closes it once. The closing call can be
// replaced, so a layer that routes its file operations through a seam of its
// own closes through that seam too.
class UniqueFd {
 public:
  using CloseFn = int (*)(int);

  UniqueFd() = default;
  explicit UniqueFd(int fd, CloseFn close = &::close) : fd_(fd), close_(close) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)), close_(other.close_) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
      close_ = other.close_;
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Hands the descriptor over; the caller closes it (and sees what closing says).
  int Release() { return std::exchange(fd_, -1); }
  void Reset() {
    if (fd_ >= 0) close_(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  CloseFn close_ = &::close;
};

}  // namespace zr::rt
