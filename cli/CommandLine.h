#pragma once

#include <string>
#include <vector>

// What the program was asked to do on its command line. Without options it
// opens the restore window, as it always has.
namespace zr::cli {

enum class Command { Window, Undo, Restore, Verify, History, Help, Version, UsageError };

struct Request {
  Command command = Command::Window;
  bool yes = false;                // --undo or --restore without asking
  std::string archive;             // --restore's archive
  std::string undoEntry;           // --undo N: the entry N names (its folder name); empty for the newest
  bool onlyNew = false;            // --verify --new: only archives not checked in their present form
  bool notify = false;             // --verify --notify: each NG also on the desktop and in the error log
  std::vector<std::string> paths;  // --verify's archives and folders
  std::string problem;             // for UsageError, in the user's words
};

Request ParseCommandLine(const std::vector<std::string>& arguments);

// The text --help prints.
std::string UsageText();

// The exit statuses every command keeps to.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

}  // namespace zr::cli
