#include "tests/lzh/LzhTestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <stdexcept>

#include "tests/support/TempDir.h"

namespace zr::lzh::test {

std::string FixtureContent(const std::string& member) {
  static const char* const kWords[] = {"alpha ", "beta ", "ZrXX ", "\r\n", "gamma ", "テンプレート "};
  uint64_t start = 0;
  int count = 0;
  if (member == "Data/ZrXXComn.wf6") {
    start = 1;
    count = 6000;
  } else if (member == "Work/ZrBunsyo.wf6") {
    start = 2;
    count = 3000;
  } else if (member == "Work/ZrTuBun.wf6") {
    start = 3;
    count = 2000;
  } else {
    throw std::invalid_argument("no such fixture member: " + member);
  }
  std::string out;
  uint64_t x = start;
  for (int i = 0; i < count; ++i) {
    x = (x * 1103515245 + 12345) % (1ULL << 31);
    out += kWords[(x >> 16) % 6];
  }
  return out;
}

fs::path FixturePath(const std::string& name) { return fs::path(ZR_SOURCE_DIR) / "tests/lzh/fixtures" / name; }

Tree Snapshot(const fs::path& root) {
  Tree tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = fs::relative(it->path(), root).string();
    struct stat st {};
    lstat(it->path().c_str(), &st);
    const std::string mode = std::to_string(st.st_mode & 07777);
    if (S_ISLNK(st.st_mode)) {
      tree[rel] = "link:" + fs::read_symlink(it->path()).string();
    } else if (S_ISDIR(st.st_mode)) {
      tree[rel] = "dir:" + mode;
    } else {
      // Short contents verbatim; long ones by size and digest, to keep failure output readable.
      const std::string content = zr::test::ReadFile(it->path());
      tree[rel] = "file:" + mode + ":" +
                  (content.size() <= 64 ? content
                                        : std::to_string(content.size()) + " bytes, digest " +
                                              std::to_string(std::hash<std::string>()(content)));
    }
  }
  return tree;
}

std::vector<std::string> Leftovers(const fs::path& root) {
  std::vector<std::string> found;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string name = it->path().filename().string();
    if (name.rfind(".zrtmp-", 0) == 0 || name.rfind(".zrold-", 0) == 0 || name.rfind(".zrplan-", 0) == 0) {
      found.push_back(it->path().string());
    }
  }
  return found;
}

}  // namespace zr::lzh::test
