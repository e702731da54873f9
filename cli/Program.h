#pragma once

#include "cli/CommandLine.h"

namespace zr::cli {

// Runs a command-line request as the whole program: the suite installed
// without its window parts, and Qt started only when an undo must ask in a
// message box. Returns the exit status.
int RunProgram(const Request& request, int& argc, char** argv);

}  // namespace zr::cli
