#include "suite/local/IniFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/Text.h"
#include "platform/runtime/TextConversion.h"

namespace zr::suite {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

rt::RuntimeError Undecodable(const std::string& fileName) {
  return rt::RuntimeError(rt::err::BadFileFormat, "設定ファイルの文字コードを読み取れません。(" + fileName + ")");
}

std::string FromCp932(std::string_view bytes, const std::string& fileName) {
  rt::TextConverter converter(rt::kCp932, rt::kUtf8);
  if (!converter.Usable()) {
    throw rt::RuntimeError(rt::err::Internal, "Shift-JIS の変換機能を利用できません。(" + fileName + ")");
  }
  std::optional<std::string> text = converter.Convert(bytes);
  if (!text) throw Undecodable(fileName);
  return std::move(*text);
}

std::string_view TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

std::string DecodeIniText(std::string_view bytes, const std::string& fileName) {
  if (bytes.starts_with(kUtf8Bom)) {
    bytes.remove_prefix(kUtf8Bom.size());
    if (!rt::IsValidUtf8(bytes)) throw Undecodable(fileName);
    return std::string(bytes);
  }
  if (rt::IsValidUtf8(bytes)) return std::string(bytes);
  return FromCp932(bytes, fileName);
}

std::string FindIniValue(std::string_view text, std::string_view section, std::string_view key) {
  bool inSection = false;
  while (!text.empty()) {
    const auto end = text.find_first_of("\r\n");
    std::string_view line = text.substr(0, end);
    if (end == std::string_view::npos) {
      text = {};
    } else {
      const std::size_t breakLength = text.substr(end).starts_with("\r\n") ? 2 : 1;
      text.remove_prefix(end + breakLength);
    }

    line = TrimBlanks(line);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const auto close = line.find(']');
      const std::string_view name = TrimBlanks(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
      inSection = rt::EqualsIgnoreCase(name, section);
      continue;
    }
    if (!inSection) continue;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (rt::EqualsIgnoreCase(TrimBlanks(line.substr(0, equals)), key)) {
      return std::string(Unquote(TrimBlanks(line.substr(equals + 1))));
    }
  }
  return {};
}

std::string ReadIniFileValue(const std::filesystem::path& file, std::string_view section, std::string_view key) {
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    // Like the profile functions: a file that is not there has no values.
    if (e == ENOENT || e == ENOTDIR) return {};
    throw rt::ErrorFromErrno(e, file.string());
  }
  std::string bytes;
  char buffer[16384];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int e = errno;
      close(fd);
      throw rt::ErrorFromErrno(e, file.string());
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return FindIniValue(DecodeIniText(bytes, file.string()), section, key);
}

}  // namespace zr::suite
