#include "suite/local/ErrorLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/runtime/FileOps.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/Text.h"

namespace zr::suite {
namespace {

// Length of the well-formed UTF-8 sequence at the start of `text`, or 0.
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  if (lead >= 0xE0 && lead <= 0xEF) length = 3;
  if (lead >= 0xF0 && lead <= 0xF4) length = 4;
  if (length == 0 || text.size() < length) return 0;
  return rt::IsValidUtf8(text.substr(0, length)) ? length : 0;
}

void AppendHex(std::string& out, unsigned char byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out += "\\x";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0x0F];
}

}  // namespace

std::string EscapeLogField(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const auto byte = static_cast<unsigned char>(text[0]);
    const std::size_t length = Utf8SequenceLength(text);
    if (byte == '\\') {
      out += "\\\\";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte < 0x20 || byte == 0x7F || length == 0) {
      AppendHex(out, byte);
    } else {
      out.append(text.substr(0, length));
      text.remove_prefix(length);
      continue;
    }
    text.remove_prefix(1);
  }
  return out;
}

std::string IsoLocalTime(std::time_t when) {
  tzset();
  std::tm local{};
  localtime_r(&when, &local);
  char buffer[40];
  const std::size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S%z", &local);
  // strftime gives +0900; the extended form wants +09:00.
  if (n < 5) return std::string(buffer, n);
  return std::string(buffer, n - 2) + ":" + std::string(buffer + n - 2, 2);
}

void AppendErrorLog(const std::filesystem::path& logFile, std::string_view name, std::string_view procedureName,
                    std::string_view entry, int32_t info) {
  if (const int e = rt::MakeFolders(logFile.parent_path().string()); e != 0) {
    throw rt::ErrorFromErrno(e, logFile.parent_path().string());
  }

  std::string line = IsoLocalTime(std::time(nullptr));
  for (std::string_view field : {name, procedureName, entry}) {
    line += '\t';
    line += EscapeLogField(field);
  }
  line += '\t';
  line += rt::DecimalText(info);
  line += '\n';

  // O_APPEND and one write keep lines from several programs whole.
  const int fd = rt::Ops().Open(logFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw rt::ErrorFromErrno(errno, logFile.string());
  if (!rt::WriteAll(fd, line)) {
    const int e = errno;
    rt::Ops().Close(fd);
    throw rt::ErrorFromErrno(e, logFile.string());
  }
  if (rt::Ops().Close(fd) != 0 && errno != EINTR) throw rt::ErrorFromErrno(errno, logFile.string());
}

}  // namespace zr::suite
