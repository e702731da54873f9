#pragma once

#include <string>

#include "platform/runtime/RuntimeError.h"

namespace zr::window {

// The plain report of an error that no handler trapped, as one line:
// "ZrBunsyoRes: 実行時エラー <number>: <description>".
std::string UnhandledErrorReport(const rt::RuntimeError& error);

// Reports an error that ends the program outside the error trap, as the
// run-time does: the line above on stderr, then a message box titled
// "ZrBunsyoRes" with the stop icon and OK, so that a program started from
// the desktop does not simply vanish. Never throws; when no box can be
// shown, the line is the whole report.
void ReportUnhandledError(const rt::RuntimeError& error);

}  // namespace zr::window
