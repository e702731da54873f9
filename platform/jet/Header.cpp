#include "platform/jet/Header.h"

#include <array>
#include <cmath>
#include <cstring>

#include "platform/runtime/Text.h"
#include "platform/runtime/TextConversion.h"

namespace zr::jet::detail {
namespace {

constexpr std::size_t kMaskStart = 0x18;
constexpr std::size_t kPasswordAt = 0x42;
constexpr std::size_t kCodePageAt = 0x3C;
constexpr std::size_t kCreatedAt = 0x72;

std::array<unsigned char, 128> MakeKeyStream() {
  const unsigned char key[4] = {0xC7, 0xDA, 0x39, 0x6B};
  std::array<unsigned char, 256> s;
  for (int i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % 4]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  std::array<unsigned char, 128> out;
  for (int n = 0, i = 0, j = 0; n < 128; ++n) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    out[n] = s[(s[i] + s[j]) & 0xFF];
  }
  return out;
}

std::u16string Utf16(std::string_view text, bool& ok) {
  std::u16string out;
  ok = rt::Utf8ToUtf16(text, out);
  return out;
}

// The supplied password in the file's 8-bit code page, as a Jet 3 file
// stores it; nullopt when it has no form there.
std::optional<std::string> InCodePage(std::string_view utf8, uint16_t codePage) {
  bool ascii = true;
  for (char c : utf8) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::string(utf8);
  return rt::ConvertText(utf8, rt::kUtf8, "CP" + std::to_string(codePage));
}

}  // namespace

const unsigned char* HeaderKeyStream() {
  static const std::array<unsigned char, 128> keys = MakeKeyStream();
  return keys.data();
}

HeaderProblem DecodeHeader(std::span<const unsigned char> page, Header& out) {
  if (page.size() < kCreatedAt + 8) return page.empty() ? HeaderProblem::TooShort : HeaderProblem::NotJet;
  if (page[0] != 0) return HeaderProblem::NotJet;
  const unsigned char version = page[0x14];
  if (version >= 2 && version <= 6) return HeaderProblem::Ace;
  if (version > 1) return HeaderProblem::NotJet;
  const bool jet4 = version == 1;
  out.format = jet4 ? Format::Jet4 : Format::Jet3;
  out.pageSize = jet4 ? 4096 : 2048;
  if (page.size() < out.pageSize) return HeaderProblem::TooShort;

  std::array<unsigned char, 0x98> plain;
  std::memcpy(plain.data(), page.data(), plain.size());
  const std::size_t masked = jet4 ? 128 : 126;
  const unsigned char* keys = HeaderKeyStream();
  for (std::size_t i = 0; i < masked; ++i) plain[kMaskStart + i] ^= keys[i];
  out.codePage = static_cast<uint16_t>(plain[kCodePageAt] | (plain[kCodePageAt + 1] << 8));

  std::string stored;
  if (jet4) {
    double created;
    std::memcpy(&created, &plain[kCreatedAt], sizeof created);
    // The day number masks the password; a date that has none is damage.
    if (!std::isfinite(created) || created <= -2147483648.0 || created >= 2147483648.0) {
      return HeaderProblem::Damaged;
    }
    auto day = static_cast<uint32_t>(static_cast<int32_t>(std::trunc(created)));
    for (std::size_t i = 0; i < 40; ++i) {
      stored.push_back(static_cast<char>(plain[kPasswordAt + i] ^ ((day >> (8 * (i % 4))) & 0xFF)));
    }
    std::size_t end = 0;
    while (end < 40 && (stored[end] != 0 || stored[end + 1] != 0)) end += 2;
    stored.resize(end);
  } else {
    for (std::size_t i = 0; i < 20 && plain[kPasswordAt + i] != 0; ++i) {
      stored.push_back(static_cast<char>(plain[kPasswordAt + i]));
    }
  }
  out.password = std::move(stored);
  return HeaderProblem::None;
}

std::string PasswordFromConnect(std::string_view connect) {
  std::size_t start = 0;
  while (start <= connect.size()) {
    std::size_t end = connect.find(';', start);
    if (end == std::string_view::npos) end = connect.size();
    std::string_view part = connect.substr(start, end - start);
    std::size_t eq = part.find('=');
    if (eq != std::string_view::npos && rt::EqualsIgnoreCase(rt::Trim(part.substr(0, eq)), "PWD")) {
      return std::string(part.substr(eq + 1));
    }
    start = end + 1;
  }
  return {};
}

bool PasswordOpens(const Header& header, std::string_view supplied) {
  if (header.password.empty()) return true;
  if (header.format == Format::Jet3) {
    auto bytes = InCodePage(supplied, header.codePage);
    return bytes && *bytes == header.password;
  }
  bool ok;
  std::u16string units = Utf16(supplied, ok);
  if (!ok) return false;
  std::string bytes;
  for (char16_t u : units) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  return bytes == header.password;
}

}  // namespace zr::jet::detail
