#include "window/UnhandledError.h"

#include "platform/runtime/Text.h"

namespace zr::window {

std::string UnhandledErrorReport(const rt::RuntimeError& error) {
  return "ZrBunsyoRes: 実行時エラー " + rt::DecimalText(error.number()) + ": " + error.description();
}

}  // namespace zr::window
