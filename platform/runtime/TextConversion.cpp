#include "platform/runtime/TextConversion.h"

#include <cerrno>

namespace zr::rt {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
constexpr std::size_t kFailed = static_cast<std::size_t>(-1);

}  // namespace

TextConverter::TextConverter(const std::string& from, const std::string& to)
    : cd_(iconv_open(to.c_str(), from.c_str())) {}

TextConverter::~TextConverter() {
  if (Usable()) iconv_close(cd_);
}

bool TextConverter::Usable() const { return cd_ != kNoConverter; }

std::optional<std::string> TextConverter::Convert(std::string_view bytes) {
  if (!Usable()) return std::nullopt;
  iconv(cd_, nullptr, nullptr, nullptr, nullptr);
  std::string input(bytes);
  std::string output(input.size() * 2 + 16, '\0');
  char* in = input.data();
  std::size_t inLeft = input.size();
  std::size_t written = 0;
  // The output grows until the input fits, then once more if the closing
  // shift sequence does not.
  for (bool flushing = false;;) {
    char* out = output.data() + written;
    std::size_t outLeft = output.size() - written;
    const std::size_t result =
        flushing ? iconv(cd_, nullptr, nullptr, &out, &outLeft) : iconv(cd_, &in, &inLeft, &out, &outLeft);
    written = output.size() - outLeft;
    if (result == kFailed) {
      if (errno != E2BIG) return std::nullopt;
      output.resize(output.size() * 2);
      continue;
    }
    if (!flushing) {
      flushing = true;
      continue;
    }
    break;
  }
  output.resize(written);
  return output;
}

std::optional<std::string> ConvertText(std::string_view bytes, const std::string& from, const std::string& to) {
  TextConverter converter(from, to);
  return converter.Convert(bytes);
}

}  // namespace zr::rt
