// The names of the files the replacement makes beside the user's, and how to recognise them.
#include "platform/replace/OurNames.h"

#include "platform/replace/PathParts.h"

#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace zr::replace {
namespace {

constexpr std::size_t kRandomDigits = 12;

}  // namespace

std::string NewName(std::string_view prefix) {
  static std::atomic<uint64_t> counter{0};
  unsigned char bytes[kRandomDigits / 2] = {};
  if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    const uint64_t mix = (static_cast<uint64_t>(getpid()) << 24) ^ counter.fetch_add(1);
    for (std::size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(mix >> (8 * i));
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string s(prefix);
  for (unsigned char b : bytes) {
    s += kHex[b >> 4];
    s += kHex[b & 15];
  }
  return s;
}

bool IsOurName(std::string_view name, std::string_view prefix) {
  if (name.size() != prefix.size() + kRandomDigits || !name.starts_with(prefix)) return false;
  for (char c : name.substr(prefix.size())) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool IsAnyOurName(std::string_view name) {
  return IsOurName(name, kTempPrefix) || IsOurName(name, kBackupPrefix) || IsOurName(name, kRecordPrefix);
}

bool IsSingleName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

}  // namespace zr::replace
