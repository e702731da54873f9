// Keeping a second name for a file, or a copy where the file system has no second names.
#include "platform/replace/LinkOrCopy.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string_view>

#include "platform/runtime/FileOps.h"

namespace zr::replace {

bool NoHardLinks(int errnum) { return errnum == EPERM || errnum == EOPNOTSUPP || errnum == EMLINK || errnum == ENOSYS; }

int CopyContents(int in, int out, bool& readFailed) {
  char buffer[1 << 16];
  readFailed = false;
  for (;;) {
    const ssize_t n = rt::ReadUpTo(in, buffer, sizeof buffer);
    if (n < 0) {
      readFailed = true;
      return errno;
    }
    if (n == 0) return 0;
    if (!rt::WriteAll(out, std::string_view(buffer, static_cast<std::size_t>(n)))) return errno;
  }
}

int LinkOrCopy(int fromDir, const std::string& from, int toDir, const std::string& to) {
  if (rt::Ops().LinkAt(fromDir, from.c_str(), toDir, to.c_str()) == 0) return 0;
  if (errno != EXDEV && !NoHardLinks(errno)) return errno;
  rt::UniqueFd in = rt::OwnedFd(rt::Ops().OpenAt(fromDir, from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0));
  if (!in.valid()) return errno;
  rt::UniqueFd out =
      rt::OwnedFd(rt::Ops().OpenAt(toDir, to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!out.valid()) return errno;
  bool readFailed = false;
  int e = CopyContents(in.get(), out.get(), readFailed);
  if (e == 0 && rt::Ops().Fsync(out.get()) != 0) e = errno;
  if (e == 0 && rt::Ops().Close(out.Release()) != 0) e = errno;
  if (e != 0) {
    out.Reset();
    rt::Ops().UnlinkAt(toDir, to.c_str(), 0);
  }
  return e;
}

}  // namespace zr::replace
