#pragma once

#include <string>

#include "platform/runtime/RuntimeError.h"

namespace zr::window {

// The plain report of an error that no handler trapped, as one line:
// "ZrBunsyoRes: 実行時エラー <number>: <description>".
std::string UnhandledErrorReport(const rt::RuntimeError& error);

}  // namespace zr::window
