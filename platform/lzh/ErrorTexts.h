#pragma once

// The run-time errors the archive layer raises, worded once for every file of it.
#include <string>

#include "platform/lzh/Header.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::lzh {

// What is wrong with a header, in the words the error descriptions use.
std::string FaultText(HeaderFault fault);

// What is wrong with a member's data once decoding is under way.
enum class DataFault {
  Crc,         // the data CRC differs from the header's
  Length,      // fewer bytes than the header declares
  TooLong,     // more bytes than the header declares
  Truncated,   // the packed data ends early
  BadStream,   // the compressed stream cannot be decoded
  OutOfOrder,  // the decoder handed over blocks out of sequence
};

rt::RuntimeError ArchiveDamaged(const std::string& archive, const std::string& reason);
rt::RuntimeError MemberDamaged(const std::string& archive, const std::string& member, const std::string& reason);
rt::RuntimeError MemberDamaged(const std::string& archive, const std::string& member, DataFault fault);
rt::RuntimeError ArchiveOpenError(int errnum, const std::string& archive);
rt::RuntimeError ArchiveReadError(int errnum, const std::string& archive);
// Error 75 for a path that is not a regular file, naming what it is instead.
rt::RuntimeError NotRegularFile(unsigned mode, const std::string& archive);

}  // namespace zr::lzh
