#include "cli/SmallFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/replace/Recovery.h"
#include "platform/replace/Replacement.h"
#include "platform/runtime/FileOps.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::cli {

using rt::Ops;

std::optional<std::string> ReadSmallFile(const std::filesystem::path& file, std::size_t limit) {
  // O_NONBLOCK: a FIFO put in the file's place must not hold the program.
  rt::UniqueFd fd = rt::OwnedFd(Ops().Open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0));
  struct stat st {};
  if (!fd.valid() || Ops().Fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  if (st.st_size < 0 || static_cast<std::size_t>(st.st_size) > limit) return std::nullopt;
  // One byte more than the limit tells a file that grew since fstat.
  std::string bytes(limit + 1, '\0');
  const ssize_t got = rt::ReadUpTo(fd.get(), bytes.data(), bytes.size());
  if (got < 0 || static_cast<std::size_t>(got) > limit) return std::nullopt;
  bytes.resize(static_cast<std::size_t>(got));
  return bytes;
}

void WriteWholeFile(const std::filesystem::path& file, std::string_view content) {
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
  rt::UniqueFd dir = rt::OwnedFd(Ops().Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!dir.valid() && errno == ENOENT && Ops().MkdirAt(AT_FDCWD, folder.c_str(), 0700) == 0) {
    dir = rt::OwnedFd(Ops().Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  }
  if (!dir.valid()) throw rt::ErrorFromErrno(errno, file.string());
  // The same replacement as the templates': a staged copy, flushed, renamed
  // over the file, the folder flushed; readable by its owner only. What a
  // run stopped midway left of it goes first.
  const std::string name = file.filename().string();
  replace::LockFolder(dir.get(), folder.string());
  replace::RecoverIn(dir.get(), folder.string(), {{{name}}, nullptr, false});
  replace::Replacement replacement(dir.get(), folder.string(), true);
  const std::size_t index = replacement.Add({name}, name);
  rt::UniqueFd copy = replacement.Stage(index);
  if (!rt::WriteAll(copy.get(), content) || Ops().Fsync(copy.get()) != 0) {
    throw rt::ErrorFromErrno(errno, file.string());
  }
  replacement.Finish(index, std::move(copy));
  replacement.Commit();
}

}  // namespace zr::cli
