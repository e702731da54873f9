#include "restore/CopyFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "platform/runtime/FileOps.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::restore {

bool OrdinaryFileExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat info {};
  if (rt::Ops().FstatAt(AT_FDCWD, path.c_str(), &info, 0) != 0 || !S_ISREG(info.st_mode)) return false;
  return !std::filesystem::path(path).filename().string().starts_with(".");
}

void RemoveLeftoverCopy(const std::string& path) {
  struct stat info {};
  if (rt::Ops().FstatAt(AT_FDCWD, path.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return;
    throw rt::ErrorFromErrno(errno, path);
  }
  if (S_ISDIR(info.st_mode)) {
    throw rt::RuntimeError(rt::err::PathFileAccess,
                           "一時フォルダの共通データベースの位置にフォルダがあるため、削除できません。(" + path + ")");
  }
  if (rt::Ops().UnlinkAt(AT_FDCWD, path.c_str(), 0) != 0 && errno != ENOENT) {
    const auto error = rt::ErrorFromErrno(errno, path);
    throw rt::RuntimeError(error.number(),
                           "前回の確認で残った共通データベースを削除できません。" + error.description());
  }
}

void DeleteCopyQuietly(const std::string& path) noexcept {
  if (!path.empty()) rt::Ops().UnlinkAt(AT_FDCWD, path.c_str(), 0);
}

}  // namespace zr::restore
