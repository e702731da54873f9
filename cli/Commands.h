#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "cli/CommandLine.h"

namespace zr::restore {
struct HistoryEntry;
}

// The commands of the command line. Each returns the program's exit status.
namespace zr::cli {

// Where a command talks to its user. `terminal`: questions can be asked on
// `in`; `display`: a display server answers, for message boxes when there is
// no terminal. Every name or value a command prints goes through Shown().
struct Console {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool terminal = false;
  bool display = false;
  bool errTerminal = false;  // `err` is a terminal: long work shows its progress there
};

// `text` as a line of ours may carry it (rt::EscapedForOutput): file names
// reversibly, message texts with their backslashes kept.
std::string Shown(std::string_view text, bool fileName = true);

// Runs `command` once the start rules the window obeys have let the tool
// start (one instance, no other suite program running); otherwise says the
// tool cannot do `what` ("…ため、{what}。") and fails. A run-time error of
// the start is one line on stderr.
int RunStarted(Console& console, const char* what, const std::function<int()>& command);

// Asks `question` about `what`: y/N on a terminal; with `yes` nobody is
// asked; with neither, it is refused, naming the way round (`withoutAsking`).
bool Asked(Console& console, bool yes, const std::string& what, const std::string& question, const char* withoutAsking);

struct VerifyOptions {
  bool onlyNew = false;
  bool notify = false;
};

int RunVerify(const std::vector<std::string>& paths, Console& console, VerifyOptions options = {});
int RunHistory(Console& console);
// What made a history entry, as --history shows it: 復旧, 元に戻す or 回収.
const char* EntryKind(const restore::HistoryEntry& entry);
// `entry`: the folder name of the entry to take back; empty for the newest.
int RunUndo(bool yes, Console& console, const std::string& entry = {});

// Restores the templates from `archive` through the window's checks.
int RunRestore(const std::string& archive, bool yes, Console& console);

// Runs any request but the window.
int RunCommand(const Request& request, Console& console);

}  // namespace zr::cli
