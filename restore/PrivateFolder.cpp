#include "restore/PrivateFolder.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/replace/OurNames.h"
#include "platform/runtime/FileOps.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::restore {
namespace {

constexpr int kNameAttempts = 100;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Only the extraction writes here on a file system that keeps modes; on one
// that does not, anybody may have nested folders in it, though not forever.
constexpr int kDepth = 8;

void RemoveContents(int folderFd, int depth) noexcept {
  for (const std::string& name : rt::FolderNames(folderFd)) {
    if (rt::Ops().UnlinkAt(folderFd, name.c_str(), 0) == 0) continue;
    if ((errno != EISDIR && errno != EPERM) || depth == 0) continue;
    {
      const rt::UniqueFd inner = rt::OwnedFd(rt::Ops().OpenAt(folderFd, name.c_str(), kFolderFlags, 0));
      if (inner.valid()) RemoveContents(inner.get(), depth - 1);
    }
    rt::Ops().UnlinkAt(folderFd, name.c_str(), AT_REMOVEDIR);
  }
}

}  // namespace

PrivateFolder::PrivateFolder(const std::string& parent, std::string_view prefix) {
  parent_ = rt::OwnedFd(rt::Ops().Open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!parent_.valid()) throw rt::ErrorFromErrno(errno, "作業フォルダを作成できません: " + parent);
  for (int attempt = 0;; ++attempt) {
    name_ = replace::NewName(prefix);
    if (rt::Ops().MkdirAt(parent_.get(), name_.c_str(), 0700) == 0) break;
    if (errno != EEXIST || attempt >= kNameAttempts) {
      throw rt::ErrorFromErrno(errno, "作業フォルダを作成できません: " + parent);
    }
  }
  path_ = parent + (parent.ends_with('/') ? "" : "/") + name_ + "/";
  // Should the name no longer lead to the folder just made, whatever it
  // leads to is not ours to remove: ours then stays, empty.
  folder_ = rt::OwnedFd(rt::Ops().OpenAt(parent_.get(), name_.c_str(), kFolderFlags, 0));
  struct stat st {};
  if (!folder_.valid() || rt::Ops().Fstat(folder_.get(), &st) != 0) {
    const auto error = rt::ErrorFromErrno(errno, "作業フォルダを開けません: " + path_);
    folder_.Reset();
    throw error;
  }
  device_ = st.st_dev;
  inode_ = st.st_ino;
}

PrivateFolder::~PrivateFolder() {
  if (!folder_.valid()) return;
  RemoveContents(folder_.get(), kDepth);
  struct stat now {};
  if (rt::Ops().FstatAt(parent_.get(), name_.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == device_ &&
      now.st_ino == inode_) {
    rt::Ops().UnlinkAt(parent_.get(), name_.c_str(), AT_REMOVEDIR);
  }
}

}  // namespace zr::restore
