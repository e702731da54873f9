// The requested members an archive lacks, from the same header walk the extraction uses.
#include "platform/lzh/Members.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/lzh/ArchiveIndex.h"
#include "platform/lzh/ErrorTexts.h"
#include "platform/runtime/FileOps.h"

namespace zr::lzh {

std::vector<std::string> MissingMembers(const std::string& archivePath, const std::vector<std::string>& requested) {
  rt::UniqueFd fd = rt::OwnedFd(rt::Ops().Open(archivePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY, 0));
  if (!fd.valid()) throw ArchiveOpenError(errno, archivePath);
  struct stat st {};
  if (rt::Ops().Fstat(fd.get(), &st) != 0) throw ArchiveOpenError(errno, archivePath);
  if (!S_ISREG(st.st_mode)) throw ArchiveOpenError(S_ISDIR(st.st_mode) ? EISDIR : EINVAL, archivePath);
  bool fresh = false;
  const auto index = IndexOf(fd.get(), st, archivePath, fresh);

  std::vector<std::string> missing;
  for (const auto& name : requested) {
    const uint64_t wanted = PathKey(SplitRequestedName(name));
    bool found = false;
    for (const IndexEntry& m : *index) found = found || (m.named && m.nameKey == wanted);
    if (!found) missing.push_back(name);
  }
  return missing;
}

}  // namespace zr::lzh
