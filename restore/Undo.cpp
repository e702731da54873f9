#include "restore/Undo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/replace/LinkOrCopy.h"
#include "platform/replace/Recovery.h"
#include "platform/replace/Replacement.h"
#include "platform/runtime/FileOps.h"
#include "platform/runtime/RuntimeError.h"
#include "restore/VersionCheck.h"
#include "suite/Templates.h"

namespace zr::restore {
namespace {

namespace fs = std::filesystem;
using rt::Ops;

// The largest file a Jet 4 database can be.
constexpr int64_t kMaxTemplateBytes = int64_t{2} << 30;

RefusedEntry Refused(const std::string& why, const fs::path& where) {
  return RefusedEntry(rt::err::PathFileAccess, "この履歴からは戻せません。" + why + "(" + where.string() + ")");
}

rt::UniqueFd OpenEntryFolder(int parent, const fs::path& shown, const char* name) {
  rt::UniqueFd fd = rt::OwnedFd(Ops().OpenAt(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0));
  if (!fd.valid()) {
    if (errno == ELOOP || errno == ENOTDIR) throw Refused("履歴のフォルダーではありません。", shown);
    throw rt::ErrorFromErrno(errno, "履歴の雛形を読み込めません: " + shown.string());
  }
  return fd;
}

// What the entry keeps of each template: an open regular file, or nothing
// for one that did not exist. Anything else refuses the whole undo.
std::vector<rt::UniqueFd> OpenKept(const HistoryEntry& entry) {
  if (const std::string why = WhyNotPutBack(entry); !why.empty()) throw Refused(why, entry.folder);
  const rt::UniqueFd folder = OpenEntryFolder(AT_FDCWD, entry.folder, entry.folder.c_str());
  const rt::UniqueFd work = OpenEntryFolder(folder.get(), entry.folder / "Work", "Work");
  std::vector<rt::UniqueFd> kept;
  bool any = false;
  for (std::size_t i = 0; i < suite::kTemplateMembers.size(); ++i) {
    const std::string file = suite::TemplatePathParts(suite::kTemplateMembers[i]).back();
    const fs::path shown = entry.folder / "Work" / file;
    if (entry.templates[i] == TemplateState::Absent) {
      kept.emplace_back();
      continue;
    }
    rt::UniqueFd fd =
        rt::OwnedFd(Ops().OpenAt(work.get(), file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
    struct stat st {};
    if (!fd.valid() && errno != ELOOP) throw rt::ErrorFromErrno(errno, "履歴の雛形を読み込めません: " + shown.string());
    if (!fd.valid() || Ops().Fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
      throw Refused("履歴の雛形が通常のファイルではありません。", shown);
    }
    if (st.st_size > kMaxTemplateBytes) throw Refused("履歴の雛形が大きすぎます。", shown);
    kept.push_back(std::move(fd));
    any = true;
  }
  // The restore it records found no templates to keep: there is nothing to go back to.
  if (!any) throw RefusedEntry(rt::err::FileNotFound, "この履歴には戻せる雛形がありません: " + entry.folder.string());
  return kept;
}

}  // namespace

std::string WhyNotPutBack(const HistoryEntry& entry) {
  if (!entry.problem.empty()) return entry.problem;
  for (std::size_t i = 0; i < suite::kTemplateMembers.size(); ++i) {
    if (i >= entry.templates.size() || entry.templates[i] == TemplateState::Unknown) {
      return "「" + suite::kTemplateMembers[i] + "」が復旧の前にどうだったか分かりません。";
    }
  }
  return {};
}

void PutBack(const fs::path& root, const HistoryEntry& entry, const std::string& dataFolder) {
  rt::UniqueFd folder = rt::OwnedFd(Ops().Open(dataFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!folder.valid()) throw rt::ErrorFromErrno(errno, "データフォルダを開けません: " + dataFolder);
  replace::LockFolder(folder.get(), dataFolder);
  // A replacement a crash interrupted is resolved first, so this one starts
  // from a whole pair.
  const std::shared_ptr<replace::Journal> journal = HistoryJournal(root);
  replace::RecoveryScope scope;
  scope.targets = suite::TemplateTargets();
  scope.journal = journal.get();
  replace::RecoverBeforeChange(folder.get(), dataFolder, scope);

  std::vector<rt::UniqueFd> kept = OpenKept(entry);
  PendingHistoryEntry pending =
      PendingHistoryEntry::Record(root, dataFolder, entry.folder.string(), kRequiredSuiteVersion, true);
  replace::Replacement replacement(folder.get(), dataFolder, false);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    const std::string& member = suite::kTemplateMembers[i];
    const auto target = suite::TemplatePathParts(member);
    if (!kept[i].valid()) {
      replacement.AddRemoval(target, member);
      continue;
    }
    const std::size_t index = replacement.Add(target, member);
    rt::UniqueFd copy = replacement.Stage(index);
    bool readFailed = false;
    if (const int e = replace::CopyContents(kept[i].get(), copy.get(), readFailed); e != 0) {
      throw rt::ErrorFromErrno(
          e, (readFailed ? "履歴の雛形を読み込めません: " : "雛形を書き込めません: ") +
                 (readFailed ? (entry.folder / target.front() / target.back()).string() : replacement.Shown(index)));
    }
    if (Ops().Fsync(copy.get()) != 0) {
      throw rt::ErrorFromErrno(errno, "雛形を書き込めません: " + replacement.Shown(index));
    }
    replacement.Finish(index, std::move(copy));
  }
  replace::JournalScope scopeOfEntry(pending.journal(), pending.token());
  replacement.Commit();
}

}  // namespace zr::restore
