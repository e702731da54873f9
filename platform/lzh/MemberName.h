#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/lzh/Header.h"
#include "platform/replace/PathParts.h"
#include "platform/runtime/TextConversion.h"

namespace zr::lzh {

// A member path as its folder and file parts, in UTF-8.
using PathParts = replace::PathParts;

// Splits a requested member name such as "Work\ZrBunsyo.wf6" ("\" or "/"
// between parts). Throws rt::RuntimeError for a name that is empty, names a
// folder, is absolute or climbs out with "..".
PathParts SplitRequestedName(const std::string& name);

// Splits a decoded stored path on "/" and "\" alike, dropping empty and "."
// parts (so leading separators vanish); ".." stays a part of its own, and
// such a path can never equal a requested one.
PathParts SplitStoredPath(const std::string& path);

// Equal part by part, ASCII letters compared without regard to case.
bool SamePath(const PathParts& a, const PathParts& b);

// A 64-bit key equal for paths SamePath finds equal; the same in every run.
uint64_t PathKey(const PathParts& path);

// Turns stored names into UTF-8: CP932 unless the header names another code
// page (932 and 65001 are the ones seen in practice), or the UTF-16 name
// extensions when present. One decoder per extraction; not thread-safe.
class NameDecoder {
 public:
  NameDecoder() = default;
  ~NameDecoder();
  NameDecoder(const NameDecoder&) = delete;
  NameDecoder& operator=(const NameDecoder&) = delete;

  // The member's path parts, or nothing when the name cannot be decoded.
  std::optional<PathParts> Decode(const MemberHeader& header);

  // One string in the given code page (none = CP932).
  std::optional<std::string> Convert(const std::string& bytes, std::optional<uint32_t> codePage);

 private:
  rt::TextConverter& Converter(uint32_t codePage);
  std::map<uint32_t, std::unique_ptr<rt::TextConverter>> converters_;
};

// UTF-16LE to UTF-8; `separator` (0xFFFF in directory extensions) becomes "/".
std::optional<std::string> Utf16ToUtf8(const std::string& bytes, std::optional<uint16_t> separator);

}  // namespace zr::lzh
