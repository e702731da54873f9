#pragma once

#include <string>

#include "window/RestoreWindow.h"

// The window's side of the check and the restore: each runs the core
// operation and shows what came of it, refusals in message boxes and errors
// through the error trap.
namespace zr::window {

// True only when the installed suite is 10.0.0 and the archive's common
// database records an accepted data version.
bool MBlnZrVerChk(RestoreWindow& form, std::string archiveName);

// Replaces the two templates with the archive's, with the window disabled,
// the hourglass and the wait notice shown, and reports completion.
void MSubRestoreSyori(RestoreWindow& form, std::string archiveName);

}  // namespace zr::window
