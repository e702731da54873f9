#pragma once

// The header gate: hands libarchive one member, its header checked by our own reading first.
#include <archive.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/lzh/HeaderWalk.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::lzh {

// Feeds libarchive the header of `member` and then its data, and nothing
// beyond: the header is read and checked here (size limits, checksums, sizes
// against the file, agreement with the walk that found it) and handed over
// whole, so libarchive never buffers more than one checked header, whatever
// the file claims. Each reader has its own gate; gates share nothing.
class MemberSource {
 public:
  MemberSource(int fd, uint64_t fileSize, const IndexedMember& member, const std::string& archive)
      : fd_(fd), fileSize_(fileSize), member_(member), archive_(archive) {}

  static la_ssize_t Read(struct archive* a, void* self, const void** buffer);
  static la_int64_t Skip(struct archive* a, void* self, la_int64_t request);

  // The error that stopped the delivery, if any.
  const std::optional<rt::RuntimeError>& failure() const { return failure_; }

 private:
  la_ssize_t DoRead(struct archive* a, const void** buffer);
  la_int64_t DoSkip(la_int64_t request);
  la_ssize_t Fail(struct archive* a, rt::RuntimeError error);

  int fd_;
  uint64_t fileSize_;
  const IndexedMember& member_;
  const std::string& archive_;
  bool headerGiven_ = false;
  bool endMarkGiven_ = false;
  uint64_t offset_ = 0;  // in the file
  uint64_t end_ = 0;     // of the member's data
  std::vector<uint8_t> header_;
  std::vector<uint8_t> block_;
  std::optional<rt::RuntimeError> failure_;
};

}  // namespace zr::lzh
