#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// libmdb trusts the file it reads, so the program never runs it itself: a
// helper program of ours, zr-jet-read, reads the database for it. A crash,
// a runaway loop or memory growth there costs only the helper, and the
// database is called unreadable here.
//
// The helper is started with posix_spawn, never by forking this (threaded)
// program, and gets nothing of ours but the database, on its standard
// input, and one end of a socket, as its standard output. It dies with the
// thread that started it, so a database must be used on that thread.
namespace zr::jet::detail {

// How long the helper may take over one answer before it is ended.
void SetHelperDeadline(std::chrono::milliseconds deadline);
std::chrono::milliseconds HelperDeadline();

inline constexpr const char* kHelperName = "zr-jet-read";
// Names the helper to use instead of looking for it.
inline constexpr const char* kHelperOverride = "ZR_JET_READ";

// Where the helper is looked for, in order, for a program in `programFolder`:
// beside it (a build tree), then in ../libexec/zrbunsyores/ (an install).
std::vector<std::filesystem::path> HelperCandidates(const std::filesystem::path& programFolder);

class ReadHelper {
 public:
  // Starts the helper on `database`. A helper that is nowhere to be found is
  // run-time error 53, one that cannot be started 70 or 75; both name where.
  explicit ReadHelper(int database);
  ~ReadHelper();
  ReadHelper(const ReadHelper&) = delete;
  ReadHelper& operator=(const ReadHelper&) = delete;

  // One question and its answer, waited for up to the deadline. Nothing when
  // the helper died, ran past the deadline or answered out of form; it is
  // then ended, and every later question gets nothing as well.
  std::optional<std::string> Ask(std::string_view question);

  pid_t pid() const { return pid_; }

 private:
  void End(bool waitForExit);

  pid_t pid_ = -1;
  int pidfd_ = -1;
  int channel_ = -1;
};

}  // namespace zr::jet::detail
