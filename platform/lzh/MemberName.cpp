#include "platform/lzh/MemberName.h"

#include <iconv.h>
#include <algorithm>
#include <cerrno>
#include <string_view>

#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/Text.h"

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

std::optional<std::string> Utf16ToUtf8(const std::string& bytes, std::optional<uint16_t> separator) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    uint32_t unit = static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8);
    if (unit == 0) break;
    if (separator && unit == *separator) {
      out += '/';
      continue;
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 3 >= bytes.size()) return std::nullopt;
      const uint32_t low = static_cast<uint8_t>(bytes[i + 2]) | (static_cast<uint8_t>(bytes[i + 3]) << 8);
      if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      return std::nullopt;
    }
    rt::AppendUtf8(out, unit);
  }
  return out;
}

NameDecoder::~NameDecoder() {
  for (auto& [page, cd] : converters_) {
    if (cd != nullptr) iconv_close(static_cast<iconv_t>(cd));
  }
}

void* NameDecoder::Converter(uint32_t codePage) {
  auto it = converters_.find(codePage);
  if (it != converters_.end()) return it->second;
  // "CP932", never "SJIS": glibc's Shift_JIS turns 0x5C into a yen sign.
  const std::string from = "CP" + std::to_string(codePage);
  iconv_t cd = iconv_open("UTF-8", from.c_str());
  void* handle = cd == reinterpret_cast<iconv_t>(-1) ? nullptr : static_cast<void*>(cd);
  converters_.emplace(codePage, handle);
  return handle;
}

std::optional<std::string> NameDecoder::Convert(const std::string& bytes, std::optional<uint32_t> codePage) {
  const uint32_t page = codePage.value_or(kCp932);
  if (page == kUtf8) return rt::IsValidUtf8(bytes) ? std::optional<std::string>(bytes) : std::nullopt;
  if (IsAscii(bytes)) return bytes;
  void* handle = Converter(page);
  if (handle == nullptr) return std::nullopt;
  auto cd = static_cast<iconv_t>(handle);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string in = bytes;
  std::string out(in.size() * 4 + 8, '\0');
  char* inPtr = in.data();
  std::size_t inLeft = in.size();
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0) {
    return std::nullopt;
  }
  if (iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
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
