// The destination folder's opening, lock and recovery, shared by every extraction into it.
#include "platform/lzh/DestinationFolder.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <memory>

#include "platform/replace/Journal.h"
#include "platform/replace/Recovery.h"
#include "platform/runtime/FileOps.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::lzh {

rt::UniqueFd OpenDestination(const std::string& destination) {
  rt::UniqueFd fd = rt::OwnedFd(rt::Ops().Open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!fd.valid()) {
    if (errno == ENOENT || errno == ENOTDIR) {
      throw rt::RuntimeError(rt::err::PathNotFound, "展開先のフォルダーが見つかりません。(" + destination + ")");
    }
    throw rt::ErrorFromErrno(errno, "展開先のフォルダーを開けません: " + destination);
  }
  return fd;
}

void HoldDestination(int folder, const std::string& destination, bool wait) {
  // Ahead of time, a folder another extraction holds is left alone.
  if (wait) {
    replace::LockFolder(folder, destination);
  } else if (rt::Ops().Flock(folder, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    throw FolderBusy{};
  }
}

void ReleaseDestination(int folder) { rt::Ops().Flock(folder, LOCK_UN); }

void RecoverDestination(int folder, const std::string& destination, const std::vector<replace::PathParts>& outputs) {
  // Only the files this extraction writes may be touched by what an
  // earlier one left here.
  replace::RecoveryScope scope;
  scope.targets = outputs;
  const std::shared_ptr<replace::Journal> journal = replace::InstalledJournal();
  scope.journal = journal.get();
  replace::RecoverBeforeChange(folder, destination, scope);
}

}  // namespace zr::lzh
