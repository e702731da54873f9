#include "window/UnhandledError.h"

#include <cstdio>

#include "platform/runtime/Interaction.h"
#include "platform/runtime/Text.h"

namespace zr::window {

std::string UnhandledErrorReport(const rt::RuntimeError& error) {
  return "ZrBunsyoRes: 実行時エラー " + rt::DecimalText(error.number()) + ": " + error.description();
}

void ReportUnhandledError(const rt::RuntimeError& error) {
  std::fprintf(stderr, "%s\n", UnhandledErrorReport(error).c_str());
  std::fflush(stderr);
  try {
    rt::MsgBox("実行時エラー '" + rt::DecimalText(error.number()) + "':\r\n\r\n" + error.description(),
               rt::mb::Critical | rt::mb::OkOnly, "ZrBunsyoRes");
  } catch (...) {
    // Already on stderr; there is nothing further to tell it with.
  }
}

}  // namespace zr::window
