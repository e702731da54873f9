#include "tests/replace/ReplaceTestSupport.h"

#include "platform/replace/Recovery.h"

namespace zr::replace::test {

void Recover(const std::filesystem::path& folder) { RecoverFolder(folder.string(), {{kFirst, kSecond}}); }

std::size_t CountFiles(const std::filesystem::path& root) {
  std::size_t count = 0;
  for (auto it = std::filesystem::recursive_directory_iterator(root);
       it != std::filesystem::recursive_directory_iterator(); ++it) {
    ++count;
  }
  return count;
}

}  // namespace zr::replace::test
