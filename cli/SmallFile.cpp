#include "cli/SmallFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "platform/lzh/FileOps.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::cli {

using lzh::Ops;

std::optional<std::string> ReadSmallFile(const std::filesystem::path& file, std::size_t limit) {
  // O_NONBLOCK: a FIFO put in the file's place must not hold the program.
  rt::UniqueFd fd =
      lzh::OwnedFd(Ops().Open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0));
  struct stat st {};
  if (!fd.valid() || Ops().Fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  if (st.st_size < 0 || static_cast<std::size_t>(st.st_size) > limit) return std::nullopt;
  // One byte more than the limit tells a file that grew since fstat.
  std::string bytes(limit + 1, '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = Ops().Pread(fd.get(), bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got > limit) return std::nullopt;
  bytes.resize(got);
  return bytes;
}

void WriteWholeFile(const std::filesystem::path& file, std::string_view content, mode_t mode) {
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
  const std::string name = file.filename().string();
  const auto fail = [&](int error) { throw rt::ErrorFromErrno(error, file.string()); };

  rt::UniqueFd dir = lzh::OwnedFd(Ops().Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!dir.valid() && errno == ENOENT && Ops().MkdirAt(AT_FDCWD, folder.c_str(), 0700) == 0) {
    dir = lzh::OwnedFd(Ops().Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  }
  if (!dir.valid()) fail(errno);

  // A name no other writer picks: two runs at once each replace the file whole.
  std::string temporary;
  rt::UniqueFd out;
  std::random_device random;
  for (int attempt = 0; attempt < 8 && !out.valid(); ++attempt) {
    temporary = "." + name + ".new-" + std::to_string(getpid()) + "-" + std::to_string(random());
    out = lzh::OwnedFd(
        Ops().OpenAt(dir.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!out.valid() && errno != EEXIST) fail(errno);
  }
  if (!out.valid()) fail(EEXIST);

  int error = 0;
  // The umask may only have taken bits away; the mode is what was asked for.
  if (Ops().Fchmod(out.get(), mode) != 0) error = errno;
  for (std::string_view rest = content; error == 0 && !rest.empty();) {
    const ssize_t n = Ops().Write(out.get(), rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  if (error == 0 && Ops().Fsync(out.get()) != 0) error = errno;
  if (error == 0 && Ops().Close(out.Release()) != 0 && errno != EINTR) error = errno;
  if (error == 0 && Ops().RenameAt(dir.get(), temporary.c_str(), dir.get(), name.c_str()) != 0) error = errno;
  if (error != 0) {
    out.Reset();
    Ops().UnlinkAt(dir.get(), temporary.c_str(), 0);
    fail(error);
  }
  if (Ops().Fsync(dir.get()) != 0) fail(errno);
}

}  // namespace zr::cli
