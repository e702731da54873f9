// The one table that turns errno values into run-time errors, for file
// operations and folder queries alike.
#include <cerrno>

#include "platform/runtime/FileSystem.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::rt {
namespace {

struct ErrnoRow {
  int errnum;
  int32_t onFile;
  int32_t onFolder;
};

// Values not listed are error 75 either way. The two columns differ in two
// places only. A folder query asks about the folder itself, so its absence
// is a path that is not found rather than a file. And EIO or ESTALE while a
// folder is merely looked at means a device or share that does not answer
// (the user is told to insert the medium), where in the middle of reading or
// writing a file the same values are a failed access to that file.
constexpr ErrnoRow kErrnoTable[] = {
    {ENOENT, err::FileNotFound, err::PathNotFound},
    {ENOTDIR, err::PathNotFound, err::PathNotFound},
    {EACCES, err::PermissionDenied, err::PermissionDenied},
    {EPERM, err::PermissionDenied, err::PermissionDenied},
    {EROFS, err::PermissionDenied, err::PermissionDenied},
    {ENOSPC, err::DiskFull, err::DiskFull},
    {EDQUOT, err::DiskFull, err::DiskFull},
    {ENOMEM, err::OutOfMemory, err::OutOfMemory},
    {ENXIO, err::DeviceUnavailable, err::DeviceUnavailable},
    {ENODEV, err::DeviceUnavailable, err::DeviceUnavailable},
    {ENOMEDIUM, err::DeviceUnavailable, err::DeviceUnavailable},
    {EHOSTDOWN, err::DeviceUnavailable, err::DeviceUnavailable},
    {EHOSTUNREACH, err::DeviceUnavailable, err::DeviceUnavailable},
    {ENETUNREACH, err::DeviceUnavailable, err::DeviceUnavailable},
    {ETIMEDOUT, err::DeviceUnavailable, err::DeviceUnavailable},
    {EIO, err::PathFileAccess, err::DeviceUnavailable},
    {ESTALE, err::PathFileAccess, err::DeviceUnavailable},
};

int32_t NumberFor(int errnum, bool folder) {
  for (const ErrnoRow& row : kErrnoTable) {
    if (row.errnum == errnum) return folder ? row.onFolder : row.onFile;
  }
  return err::PathFileAccess;
}

std::string FileDescription(int32_t number) {
  switch (number) {
    case err::FileNotFound:
      return "ファイルが見つかりません。";
    case err::PathNotFound:
      return "パスが見つかりません。";
    case err::PermissionDenied:
      return "アクセスが拒否されました。";
    case err::DiskFull:
      return "ディスクの空き容量が不足しています。";
    case err::OutOfMemory:
      return "メモリが不足しています。";
    case err::DeviceUnavailable:
      return "デバイスが準備されていません。";
    default:
      return "パスまたはファイルへのアクセスでエラーが発生しました。";
  }
}

std::string FolderDescription(int32_t number) {
  switch (number) {
    case err::PathNotFound:
      return "フォルダが見つかりません。";
    case err::PermissionDenied:
      return "フォルダへのアクセスが拒否されました。";
    case err::DeviceUnavailable:
      return "フォルダのあるデバイスが準備されていません。";
    default:
      return FileDescription(number);
  }
}

}  // namespace

RuntimeError ErrorFromErrno(int errnum, const std::string& what) {
  const int32_t number = NumberFor(errnum, false);
  return RuntimeError(number, FileDescription(number) + "(" + what + ")");
}

RuntimeError FolderError(int errnum, const std::string& folder) {
  const int32_t number = NumberFor(errnum, true);
  return RuntimeError(number, FolderDescription(number) + "(" + folder + ")");
}

}  // namespace zr::rt
