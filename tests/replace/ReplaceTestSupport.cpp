#include "tests/replace/ReplaceTestSupport.h"

#include <fcntl.h>

#include <cerrno>
#include <optional>

#include "platform/replace/Recovery.h"
#include "platform/replace/Replacement.h"
#include "platform/runtime/FileOps.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::replace::test {

void ReplacePair(const std::filesystem::path& folder, Journal* journal) {
  const rt::UniqueFd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  Replacement r(dir.get(), folder.string(), false);
  for (const auto& [target, bytes] : {std::pair{kFirst, "new first"}, std::pair{kSecond, "new second"}}) {
    const std::size_t i = r.Add(target, target.back());
    rt::UniqueFd copy = r.Stage(i);
    if (!rt::WriteAll(copy.get(), bytes) || rt::Ops().Fsync(copy.get()) != 0) throw rt::ErrorFromErrno(errno, "write");
    r.Finish(i, std::move(copy));
  }
  std::optional<JournalScope> scope;
  if (journal != nullptr) scope.emplace(*journal, "1");
  r.Commit();
}

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
