// The crash states are only as complete as the recording: every call that
// changes the data folder or the history must pass the seam, and so must
// those on the suite's other files. strace watches a start, check, restore,
// failed restore, undo and backup check from outside, and what it saw change
// there must be exactly what the recorder saw.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace zr::crash {
namespace {

constexpr const char* kTraced =
    "openat,open,creat,write,pwrite64,writev,pwritev,pwritev2,fsync,fdatasync,sync_file_range,ftruncate,truncate,"
    "fallocate,rename,renameat,renameat2,link,linkat,symlink,symlinkat,unlink,unlinkat,mkdir,mkdirat,rmdir,fchmod,"
    "fchmodat,chmod,fchown,fchownat,chown,lchown,utimensat,copy_file_range,sendfile,faccessat,faccessat2,access";

// The arguments of one call, split at the top level.
std::vector<std::string> Arguments(const std::string& text) {
  std::vector<std::string> args;
  std::string current;
  bool quoted = false;
  int angle = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '\\' && i + 1 < text.size()) {
      current += text[++i];
      continue;
    }
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == '<') {
      ++angle;
    } else if (!quoted && c == '>') {
      --angle;
    } else if (!quoted && angle == 0 && c == ',') {
      args.push_back(current);
      current.clear();
      if (i + 1 < text.size() && text[i + 1] == ' ') ++i;
      continue;
    }
    current += c;
  }
  args.push_back(current);
  return args;
}

// `3</some/folder>` is the folder; a quoted name is the name.
std::string FdPath(const std::string& arg) {
  const auto open = arg.find('<');
  return open == std::string::npos ? std::string() : arg.substr(open + 1, arg.rfind('>') - open - 1);
}
std::string Unquoted(const std::string& arg) {
  return arg.size() >= 2 && arg.front() == '"' ? arg.substr(1, arg.size() - 2) : arg;
}
std::string At(const std::string& fd, const std::string& name) {
  return name.starts_with("/") ? name : FdPath(fd) + "/" + name;
}

// Each successful changing call between the markers, as "kind\tpath".
std::vector<std::string> Changes(const std::string& log) {
  std::vector<std::string> out;
  std::map<std::string, std::string> unfinished;  // by process
  std::istringstream lines(log);
  std::string line;
  bool inside = false;
  while (std::getline(lines, line)) {
    const auto space = line.find(' ');
    const auto start = line.find_first_not_of(' ', space);  // process numbers are padded
    if (space == std::string::npos || start == std::string::npos) continue;
    const std::string pid = line.substr(0, space);
    std::string call = line.substr(start);
    if (const auto cut = call.find(" <unfinished ...>"); cut != std::string::npos) {
      unfinished[pid] = call.substr(0, cut);
      continue;
    }
    if (call.starts_with("<... ")) {
      const auto resumed = call.find("resumed>");
      if (resumed == std::string::npos) continue;
      call = unfinished[pid] + call.substr(resumed + 8);
    }
    if (call.find("zr-powercut-begin") != std::string::npos) inside = true;
    if (call.find("zr-powercut-end") != std::string::npos) inside = false;
    // "name(arguments) = result", the result column padded after a resumed call.
    const auto paren = call.find('(');
    const auto equals = call.rfind(" = ");
    if (!inside || paren == std::string::npos || equals == std::string::npos) continue;
    const auto close = call.find_last_not_of(' ', equals);
    if (close == std::string::npos || call[close] != ')' || call.compare(equals + 3, 2, "-1") == 0) continue;
    const std::string name = call.substr(0, paren);
    const auto a = Arguments(call.substr(paren + 1, close - paren - 1));
    auto add = [&](const std::string& kind, const std::string& path) { out.push_back(kind + "\t" + path); };
    if (name == "openat" && a.size() >= 3 && a[2].find("O_CREAT") != std::string::npos) {
      add("create", At(a[0], Unquoted(a[1])));
    } else if ((name == "open" && a.size() >= 2 && a[1].find("O_CREAT") != std::string::npos) || name == "creat") {
      add("create", Unquoted(a[0]));
    } else if (name == "write" || name == "pwrite64" || name == "writev" || name == "pwritev" || name == "pwritev2") {
      add("write", FdPath(a[0]));
    } else if (name == "fsync" || name == "fdatasync") {
      add("fsync", FdPath(a[0]));
    } else if (name == "fchmod") {
      add("fchmod", FdPath(a[0]));
    } else if ((name == "renameat" || name == "renameat2" || name == "linkat") && a.size() >= 4) {
      add(name == "linkat" ? "link" : "rename", At(a[0], Unquoted(a[1])) + " -> " + At(a[2], Unquoted(a[3])));
    } else if ((name == "rename" || name == "link") && a.size() >= 2) {
      add(name, Unquoted(a[0]) + " -> " + Unquoted(a[1]));
    } else if (name == "unlinkat" && a.size() >= 2) {
      add("unlink", At(a[0], Unquoted(a[1])));
    } else if ((name == "unlink" || name == "rmdir") && !a.empty()) {
      add("unlink", Unquoted(a[0]));
    } else if (name == "mkdirat" && a.size() >= 2) {
      add("mkdir", At(a[0], Unquoted(a[1])));
    } else if (name == "mkdir" && !a.empty()) {
      add("mkdir", Unquoted(a[0]));
    } else if (name != "openat" && name != "open" && name != "faccessat" && name != "faccessat2" && name != "access") {
      add(name, a.empty() ? std::string() : (FdPath(a[0]).empty() ? Unquoted(a[0]) : FdPath(a[0])));
    }
  }
  return out;
}

// The changes that touch the data folder, the history, the temporary
// folder, the log or the run locks, sorted.
std::vector<std::string> Within(const std::vector<std::string>& changes, const std::string& home) {
  std::vector<std::string> kept;
  for (const std::string& c : changes) {
    for (const char* root : {"/data", "/history", "/temp", "/log", "/run"}) {
      const std::string prefix = home + root;
      const auto at = c.find(prefix);
      if (at != std::string::npos &&
          (c.size() == at + prefix.size() || c[at + prefix.size()] == '/' || c[at + prefix.size()] == ' ')) {
        kept.push_back(c);
        break;
      }
    }
  }
  std::sort(kept.begin(), kept.end());
  return kept;
}

TEST(SeamTest, EveryChangeToTheSuitesFilesPassesTheSeam) {
  test::TempDir scratch;
  const auto log = scratch.path() / "strace.log";
  const auto seen = scratch.path() / "recorded.txt";
  const std::string command = "TMPDIR='" + scratch.path().string() + "' strace -f -qq -y -s 256 -e trace=" + kTraced +
                              " -o '" + log.string() + "' '" + ZR_BINARY_DIR "/zr_powercut_driver' '" + seen.string() +
                              "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  std::istringstream recorded(test::ReadFile(seen));
  std::string home;
  std::getline(recorded, home);
  std::vector<std::string> fromRecorder;
  for (std::string line; std::getline(recorded, line);) fromRecorder.push_back(line);
  const auto traced = Within(Changes(test::ReadFile(log)), home);
  const auto viaSeam = Within(fromRecorder, home);

  std::vector<std::string> bypassing;
  std::vector<std::string> unseen;
  std::set_difference(traced.begin(), traced.end(), viaSeam.begin(), viaSeam.end(), std::back_inserter(bypassing));
  std::set_difference(viaSeam.begin(), viaSeam.end(), traced.begin(), traced.end(), std::back_inserter(unseen));
  auto lines = [](const std::vector<std::string>& v) {
    std::string s;
    for (const auto& l : v) s += l + "\n";
    return s;
  };
  EXPECT_GT(traced.size(), 30u) << lines(traced);
  EXPECT_TRUE(bypassing.empty()) << "changed, but not through the seam:\n" << lines(bypassing);
  EXPECT_TRUE(unseen.empty()) << "recorded, but not seen by strace:\n" << lines(unseen);
}

}  // namespace
}  // namespace zr::crash
