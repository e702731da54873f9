#include "restore/Undo.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/lzh/Extract.h"
#include "platform/lzh/MemberName.h"
#include "platform/lzh/Replacement.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/UniqueFd.h"

namespace zr::restore {
namespace {

namespace fs = std::filesystem;

rt::RuntimeError Unreadable(int errnum, const fs::path& saved) {
  return rt::ErrorFromErrno(errnum, "履歴の雛形を読み込めません: " + saved.string());
}

rt::RuntimeError Unwritable(int errnum, const std::string& shown) {
  return rt::ErrorFromErrno(errnum, "雛形を書き込めません: " + shown);
}

void CopyInto(const fs::path& saved, int copy, const std::string& shown) {
  rt::UniqueFd in(open(saved.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.valid()) throw Unreadable(errno, saved);
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = read(in.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Unreadable(errno, saved);
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(copy, buffer + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) throw Unwritable(w < 0 ? errno : EIO, shown);
      done += w;
    }
  }
  if (fsync(copy) != 0) throw Unwritable(errno, shown);
}

}  // namespace

void PutBack(const HistoryEntry& entry, const std::string& dataFolder) {
  // A replacement a crash interrupted is finished or rolled back first, so
  // this one starts from a whole pair.
  lzh::RecoverInterruptedReplacement(dataFolder);
  rt::UniqueFd folder(open(dataFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) throw rt::ErrorFromErrno(errno, "データフォルダを開けません: " + dataFolder);
  lzh::Replacement replacement(folder.get(), dataFolder, false);
  int kept = 0;
  for (const std::string& file : kTemplateFiles) {
    const fs::path saved = entry.folder / file;
    if (!fs::exists(saved)) continue;
    ++kept;
    const std::size_t index = replacement.Add(lzh::SplitRequestedName(file), file);
    rt::UniqueFd copy = replacement.Stage(index);
    CopyInto(saved, copy.get(), replacement.Shown(index));
    replacement.Finish(index, std::move(copy));
  }
  // The restore it records found no templates to keep: there is nothing to go back to.
  if (kept == 0) {
    throw rt::RuntimeError(rt::err::FileNotFound, "この履歴には戻せる雛形がありません: " + entry.folder.string());
  }
  replacement.Commit();
}

}  // namespace zr::restore
