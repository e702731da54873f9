#include "platform/lzh/MemberName.h"

#include <algorithm>
#include <string_view>

#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/Text.h"
#include "platform/runtime/TextConversion.h"

namespace zr::lzh {
namespace {

constexpr uint32_t kCp932 = 932;
constexpr uint32_t kUtf8 = 65001;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsAscii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

rt::RuntimeError BadRequest(const std::string& name) {
  return rt::RuntimeError(rt::err::InvalidProcedureCall, "展開するファイルの名前が正しくありません。(" + name + ")");
}

}  // namespace

PathParts SplitRequestedName(const std::string& name) {
  if (name.empty() || IsSeparator(name.front()) || IsSeparator(name.back())) throw BadRequest(name);
  if (name.find('\0') != std::string::npos) throw BadRequest(name);
  PathParts parts = SplitStoredPath(name);
  if (parts.empty()) throw BadRequest(name);
  // A drive letter makes a Windows name absolute.
  const std::string& first = parts.front();
  if (first.size() == 2 && first[1] == ':') throw BadRequest(name);
  for (const std::string& part : parts) {
    if (part == "..") throw BadRequest(name);
  }
  return parts;
}

PathParts SplitStoredPath(const std::string& path) {
  PathParts parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || IsSeparator(path[i])) {
      std::string part = path.substr(start, i - start);
      if (!part.empty() && part != ".") parts.push_back(std::move(part));
      start = i + 1;
    }
  }
  return parts;
}

bool SamePath(const PathParts& a, const PathParts& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].size() != b[i].size()) return false;
    for (std::size_t k = 0; k < a[i].size(); ++k) {
      if (AsciiLower(a[i][k]) != AsciiLower(b[i][k])) return false;
    }
  }
  return true;
}

uint64_t PathKey(const PathParts& path) {
  uint64_t h = 0xCBF29CE484222325ULL;
  auto mix = [&h](unsigned char c) { h = (h ^ c) * 0x100000001B3ULL; };
  for (const std::string& part : path) {
    for (const char c : part) mix(static_cast<unsigned char>(AsciiLower(c)));
    mix(0xFF);  // never a byte of UTF-8: the parts cannot run together
  }
  return h;
}

std::optional<std::string> Utf16ToUtf8(const std::string& bytes, std::optional<uint16_t> separator) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::u16string units = rt::Utf16LeUnits(bytes);
  units.resize(std::min(units.size(), units.find(u'\0')));
  if (separator) std::replace(units.begin(), units.end(), static_cast<char16_t>(*separator), u'/');
  return rt::Utf16ToUtf8(units, rt::LoneSurrogate::Reject);
}

NameDecoder::~NameDecoder() = default;

rt::TextConverter& NameDecoder::Converter(uint32_t codePage) {
  auto& converter = converters_[codePage];
  if (!converter) converter = std::make_unique<rt::TextConverter>("CP" + std::to_string(codePage), rt::kUtf8);
  return *converter;
}

std::optional<std::string> NameDecoder::Convert(const std::string& bytes, std::optional<uint32_t> codePage) {
  const uint32_t page = codePage.value_or(kCp932);
  if (page == kUtf8) return rt::IsValidUtf8(bytes) ? std::optional<std::string>(bytes) : std::nullopt;
  if (IsAscii(bytes)) return bytes;
  return Converter(page).Convert(bytes);
}

std::optional<PathParts> NameDecoder::Decode(const MemberHeader& header) {
  std::optional<std::string> name =
      header.utf16Name ? Utf16ToUtf8(*header.utf16Name, std::nullopt) : Convert(header.nameBytes, header.codePage);
  if (!name) return std::nullopt;
  std::optional<std::string> dir;
  if (header.utf16Dir) {
    dir = Utf16ToUtf8(*header.utf16Dir, uint16_t{0xFFFF});
  } else {
    // 0xFF separates folders; it never occurs inside a CP932 or UTF-8
    // character, so swapping it for "/" before decoding is safe.
    std::string raw = header.dirBytes;
    std::replace(raw.begin(), raw.end(), '\xFF', '/');
    dir = Convert(raw, header.codePage);
  }
  if (!dir) return std::nullopt;
  return SplitStoredPath(dir->append("/").append(*name));
}

}  // namespace zr::lzh
