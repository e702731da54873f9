#pragma once

// One member read by its own libarchive reader, which the header gate feeds.
#include <archive.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/lzh/HeaderGate.h"
#include "platform/lzh/HeaderWalk.h"
#include "platform/lzh/ThreadLocale.h"

namespace zr::lzh {

// Thrown when another decoder's failure asked this one to stop.
struct DecodeStopped {};

// Methods libarchive decodes for us.
bool Decodable(const std::string& method);

// Methods whose packed bytes are the data itself.
bool Stored(const std::string& method);

// A run-time error naming `label` for a member this program cannot decode:
// a method libarchive lacks, or a size no member of ours comes near.
void RefuseUndecodable(const MemberHeader& header, const std::string& archive, const std::string& label);

// libarchive started at `member`'s header of the archive open at
// `archiveFd` (`fileSize` bytes), on whichever thread makes it; it must read
// that header as our walk did, or the archive is damaged. Damage is a
// run-time error naming `label`.
class MemberReader {
 public:
  MemberReader(int archiveFd, uint64_t fileSize, const IndexedMember& member, const std::string& archive,
               const std::string& label);

  // The next block of decoded data, in sequence and within the declared
  // size; false after the last. libarchive checks the data CRC as the
  // member ends: a mismatch is damage here.
  bool Next(const void*& data, std::size_t& size);

  // Bytes handed over so far.
  uint64_t produced() const { return produced_; }

 private:
  struct Free {
    void operator()(struct archive* a) const { archive_read_free(a); }
  };
  rt::RuntimeError Failed(const std::string& fallback) const;

  ThreadUtf8Locale locale_;
  MemberSource source_;
  std::unique_ptr<struct archive, Free> reader_;
  const MemberHeader& header_;
  const std::string& archive_;
  const std::string& label_;
  uint64_t produced_ = 0;
};

}  // namespace zr::lzh
