#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/CommandLine.h"

// The commands of the command line. Each returns the program's exit status.
namespace zr::cli {

// Where a command talks to its user. `terminal`: questions can be asked on
// `in`; `display`: there is a screen for message boxes when there is no terminal.
struct Console {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool terminal = false;
  bool display = false;
};

struct VerifyOptions {
  bool onlyNew = false;
  bool notify = false;
};

int RunVerify(const std::vector<std::string>& paths, Console& console, VerifyOptions options = {});
int RunHistory(Console& console);
int RunUndo(bool yes, Console& console);

// Runs any request but the window.
int RunCommand(const Request& request, Console& console);

}  // namespace zr::cli
