#include "FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/runtime/Text.h"

namespace zr::rt {
namespace {

std::u32string Folded(std::string_view s) { return FoldedForComparison(s); }

// Wildcard match with backtracking over the last "*" only, which is enough
// for "*" and "?" and never goes exponential.
bool Match(const std::u32string& name, const std::u32string& pattern) {
  std::size_t n = 0, p = 0, starP = std::u32string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == U'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::u32string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  const auto fa = Folded(a);
  const auto fb = Folded(b);
  if (fa != fb) return fa < fb;
  return a < b;
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

bool FolderExists(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const int errnum = errno;
  if (errnum == ENOENT || errnum == ENOTDIR) return false;
  throw FolderError(errnum, path);
}

bool MatchesFilePattern(std::string_view name, std::string_view pattern) {
  const auto foldedName = Folded(name);
  std::size_t start = 0;
  while (start <= pattern.size()) {
    std::size_t end = pattern.find(';', start);
    if (end == std::string_view::npos) end = pattern.size();
    std::string_view one = pattern.substr(start, end - start);
    while (!one.empty() && one.front() == ' ') one.remove_prefix(1);
    while (!one.empty() && one.back() == ' ') one.remove_suffix(1);
    if (one == "*.*" || one == "*") return true;
    if (!one.empty() && Match(foldedName, Folded(one))) return true;
    start = end + 1;
  }
  return false;
}

std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern) {
  if (folder.empty()) throw FolderError(ENOENT, folder);
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) throw FolderError(errno, folder);

  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) throw FolderError(errno, folder);
      break;
    }
    const std::string name = entry->d_name;
    if (name.empty() || name.front() == '.') continue;
    if (!MatchesFilePattern(name, pattern)) continue;

    bool ordinary = entry->d_type == DT_REG;
    if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      struct stat st {};
      // A link that leads nowhere, or a file we may not even look at, is
      // nothing the user could restore from.
      ordinary = ::fstatat(::dirfd(dir.get()), name.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode);
    }
    if (ordinary) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), LessIgnoringCase);
  return names;
}

}  // namespace zr::rt
