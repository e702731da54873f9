#include "restore/BackupCheck.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/lzh/Extract.h"
#include "platform/lzh/MemberCheck.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/Text.h"
#include "restore/PrivateFolder.h"
#include "restore/VersionCheck.h"
#include "suite/Templates.h"

namespace zr::restore {
namespace {

std::string Quoted(const std::string& member) { return "「" + member + "」"; }

// Stored names compare as the extraction matches them: either separator, ASCII case ignored.
bool SameMember(std::string stored, std::string wanted) {
  for (std::string* s : {&stored, &wanted}) {
    for (char& c : *s) {
      if (c == '/') c = '\\';
    }
  }
  return rt::EqualsIgnoreCase(stored, wanted);
}

const lzh::MemberCheck* Find(const std::vector<lzh::MemberCheck>& members, const std::string& wanted) {
  const lzh::MemberCheck* found = nullptr;
  // The last of several members of one name is the one an extraction keeps.
  for (const auto& m : members) {
    if (SameMember(m.name, wanted)) found = &m;
  }
  return found;
}

// What keeps a member from being used, in a sentence without its full stop.
std::optional<std::string> Problem(const lzh::MemberCheck& m) {
  if (m.unsupportedMethod) {
    return Quoted(m.name) + "は圧縮方式 " + *m.unsupportedMethod + " で格納されていて、このツールでは展開できません";
  }
  if (m.damage) return Quoted(m.name) + "が壊れています";
  return std::nullopt;
}

// The fault behind an archive error, without the generic sentence in front.
std::string Fault(const rt::RuntimeError& e) {
  const std::string& text = e.description();
  const auto open = text.find('(');
  const auto close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return text;
  std::string inner = text.substr(open + 1, close - open - 1);
  const auto colon = inner.find(": ");
  return colon == std::string::npos ? inner : inner.substr(0, colon);
}

BackupVerdict Refused(std::string reason, std::string version = {}) {
  BackupVerdict v;
  v.reason = std::move(reason);
  v.version = std::move(version);
  return v;
}

// The data version from a private copy of the common database, or the reason it cannot be read. The copy is read as
// the version check reads it: in a folder of our own, through the descriptor the extraction hands back.
std::optional<std::string> ReadVersion(const std::string& archivePath, const std::string& scratchFolder,
                                       std::string& reason) {
  std::optional<PrivateFolder> folder;
  try {
    folder.emplace(scratchFolder, "zr-verify-");
  } catch (const rt::RuntimeError& e) {
    reason = e.description();
    return std::nullopt;
  }
  try {
    lzh::ExtractedFiles copy = lzh::ExtractMembersForReading(archivePath, folder->fd(), folder->path(),
                                                             lzh::Mode::BareName, {kCommonDatabaseMember});
    if (copy.missing != 0 || copy.files.empty()) {
      reason = RefusalText(Refusal::UnknownDataVersion);
      return std::nullopt;
    }
    return ReadDataVersion(copy.files.front().get(), folder->path() + kCommonDatabaseName);
  } catch (const rt::RuntimeError& e) {
    reason = e.number() == rt::err::InvalidUseOfNull ? RefusalText(Refusal::UnknownDataVersion)
                                                     : "共通データベースを読めません: " + e.description();
  }
  return std::nullopt;
}

}  // namespace

BackupVerdict CheckBackup(const std::string& archivePath, const std::string& scratchFolder,
                          const std::function<void(uint64_t bytes)>& progress) {
  lzh::ArchiveCheck archive;
  try {
    archive = lzh::CheckEveryMember(archivePath, progress);
  } catch (const rt::RuntimeError& e) {
    if (e.number() == rt::err::BadFileFormat)
      return Refused("バックアップファイルが壊れています（" + Fault(e) + "）。");
    return Refused(e.description());
  }
  if (!archive.lzh) return Refused("LZH形式のファイルではありません。");
  const std::vector<lzh::MemberCheck>& members = archive.members;

  const lzh::MemberCheck* common = Find(members, kCommonDatabaseMember);
  if (common == nullptr) return Refused(RefusalText(Refusal::UnknownDataVersion));
  if (auto problem = Problem(*common)) return Refused(*problem + "。");

  std::string reason;
  const auto version = ReadVersion(archivePath, scratchFolder, reason);
  if (!version) return Refused(reason);
  if (version->empty()) return Refused(RefusalText(Refusal::UnknownDataVersion));
  if (!IsAcceptedDataVersion(*version)) {
    return Refused("データのバージョン" + *version + "は復旧の対象外です（" + AcceptedDataVersionsText() + "が対象）。",
                   *version);
  }

  std::vector<const lzh::MemberCheck*> used{common};
  for (const std::string& wanted : suite::kTemplateMembers) {
    const lzh::MemberCheck* found = Find(members, wanted);
    if (found == nullptr) return Refused(Quoted(wanted) + "がありません。", *version);
    if (auto problem = Problem(*found)) return Refused(*problem + "。", *version);
    used.push_back(found);
  }

  BackupVerdict verdict;
  verdict.ok = true;
  verdict.version = *version;
  for (const auto& m : members) {
    auto problem = Problem(m);
    if (!problem || std::find(used.begin(), used.end(), &m) != used.end()) continue;
    // An earlier copy of a member the restore uses must not read as the one it uses.
    const bool earlierCopy =
        std::any_of(used.begin(), used.end(), [&](const auto* u) { return SameMember(m.name, u->name); });
    if (earlierCopy) problem = "使われない前の" + *problem + "（復旧には最後のものを使います）";
    if (!verdict.otherDamage.empty()) verdict.otherDamage += "、";
    verdict.otherDamage += *problem;
  }
  if (!verdict.otherDamage.empty()) verdict.otherDamage += "。";
  return verdict;
}

}  // namespace zr::restore
