#include "restore/VersionCheck.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "platform/jet/Dao.h"
#include "platform/runtime/Moments.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/Text.h"
#include "restore/PrivateFolder.h"
#include "restore/TemplateRestore.h"
#include "startup/PathSeparator.h"
#include "suite/Components.h"

namespace zr::restore {
namespace {

constexpr std::array<const char*, 3> kAcceptedDataVersions{"9.0.0", "9.1.0", "9.2.0"};
constexpr const char* kConnect = ";PWD=R$KQTM3VXEJW8FNUPC";
constexpr const char* kQuery = "SELECT VALUECHAR FROM XC_CONTROL WHERE ITEM = 'ZrVer'";
constexpr int16_t kBareNameMode = 1;
constexpr const char* kFolderPrefix = "zr-check-";

// The folders of `path` once every link of the part that exists is resolved.
std::vector<std::string> ResolvedParts(const std::string& path) {
  std::error_code ec;
  auto resolved = std::filesystem::weakly_canonical(path, ec);
  if (ec) resolved = std::filesystem::path(path).lexically_normal();
  std::vector<std::string> parts;
  for (const auto& part : resolved) {
    if (!part.empty() && part != "/") parts.push_back(part.string());
  }
  return parts;
}

std::string ReadVersionRow(std::unique_ptr<jet::Database> database) {
  auto snapshot = database->OpenRecordset(kQuery, jet::dbOpenSnapshot);
  std::string version;
  if (!snapshot->IsEOF()) version = jet::ToText(snapshot->Fields(0).GetValue());
  snapshot->Close();
  snapshot.reset();
  database->Close();
  return version;
}

// What the check came to once it has run; errors are left to the caller.
Outcome Check(suite::SuiteServices& services, const std::string& archivePath, const std::string& temporaryFolder,
              int32_t owner) {
  std::string section = "COMMON";
  std::string key = "Ver";
  std::string installedVersion;
  services.ReadSetting(section, key, installedVersion);
  if (installedVersion != kRequiredSuiteVersion) return Outcome::Refused(Refusal::InstalledVersion);

  // Whatever else is in the temporary folder may be another user's: the
  // copy goes into a folder of the check's own, which goes with everything
  // in it on every way out, and is read through the descriptor the
  // extraction hands back, never by its name. Whether the archive holds the
  // member is the extraction's answer.
  std::optional<PrivateFolder> folder;
  rt::UniqueFd copy;
  if (!archivePath.empty()) {
    // The templates are decoded beside the live ones while the version is
    // read; nothing is replaced unless the check passes and the restore
    // asks for exactly them.
    const std::string temporary = CheckedTemporaryFolder(temporaryFolder, DataFolderSetting(services));
    suite::BeginExtractionAhead(archivePath, kKeepFoldersMode, kTemplateMembers);
    folder.emplace(temporary, kFolderPrefix);
    std::vector<std::string> members{kCommonDatabaseMember};
    int16_t missing = 0;
    std::vector<rt::UniqueFd> files;
    services.ExtractArchiveToRead(owner, archivePath, folder->fd(), folder->path(), kBareNameMode, members, missing,
                                  files);
    rt::Moment("check-extracted");
    if (missing == 0 && !files.empty()) copy = std::move(files.front());
  }
  if (!copy.valid()) return Outcome::Refused(Refusal::UnknownDataVersion);

  const std::string dataVersion = ReadDataVersion(copy.get(), folder->path() + kCommonDatabaseName);
  rt::Moment("check-read");
  Outcome outcome = IsAcceptedDataVersion(dataVersion) ? Outcome{} : Outcome::Refused(Refusal::DataVersion);
  outcome.dataVersion = dataVersion;
  return outcome;
}

}  // namespace

bool IsAcceptedDataVersion(const std::string& version) {
  return std::find(kAcceptedDataVersions.begin(), kAcceptedDataVersions.end(), version) != kAcceptedDataVersions.end();
}

std::string AcceptedDataVersionsText() {
  std::string text;
  for (const char* version : kAcceptedDataVersions) text += (text.empty() ? "" : "、") + std::string(version);
  return text;
}

std::string DataFolderSetting(suite::SuiteServices& services) {
  std::string section = "Common";
  std::string key = "DataPath";
  std::string folder;
  services.ReadSetting(section, key, folder);
  return folder;
}

std::string ReadDataFolder(suite::SuiteServices& services) {
  std::string folder = DataFolderSetting(services);
  // Without a data folder the templates would land in the file system's root.
  if (folder.empty()) {
    throw rt::RuntimeError(rt::err::PathNotFound, "データフォルダ（Common の DataPath）が設定されていません。");
  }
  if (!rt::EndsWith(folder, startup::kSep)) folder += startup::kSep;
  // A relative folder would be taken from wherever the program was started.
  if (folder.front() != startup::kSepChar) {
    throw rt::RuntimeError(rt::err::InvalidProcedureCall, "展開先のフォルダーが正しくありません。(" + folder + ")");
  }
  return folder;
}

// An empty or relative setting would make the check extract relative to
// wherever the program was started; one inside the data folder would put
// its copies among the live files.
std::string CheckedTemporaryFolder(std::string folder, const std::string& dataFolder) {
  if (folder.empty()) {
    throw rt::RuntimeError(rt::err::PathNotFound, "一時フォルダ（COM の TEMP_PATH）が設定されていません。");
  }
  if (folder.front() != startup::kSepChar) {
    throw rt::RuntimeError(rt::err::PathNotFound,
                           "一時フォルダ（COM の TEMP_PATH）が絶対パスではありません。(" + folder + ")");
  }
  if (!rt::EndsWith(folder, startup::kSep)) folder += startup::kSep;
  if (!dataFolder.empty()) {
    const auto temporary = ResolvedParts(folder);
    const auto data = ResolvedParts(dataFolder);
    if (temporary.size() >= data.size() && std::equal(data.begin(), data.end(), temporary.begin())) {
      throw rt::RuntimeError(
          rt::err::PathNotFound,
          "一時フォルダ（COM の TEMP_PATH）がデータフォルダ（Common の DataPath）の中にあります。(" + folder + ")");
    }
  }
  return folder;
}

std::string ReadDataVersion(int copyFd, const std::string& shown) {
  return ReadVersionRow(jet::Engine().Workspaces(0).OpenDatabase(copyFd, shown, true, true, kConnect));
}

Outcome CheckBackupVersion(suite::SuiteServices& services, const std::string& archivePath,
                           const std::string& temporaryFolder, int32_t owner) {
  Outcome outcome;
  try {
    outcome = Check(services, archivePath, temporaryFolder, owner);
  } catch (...) {
    outcome = Outcome::Failed(rt::CurrentError());
  }
  // What was begun ahead goes before anybody hears of a refusal or an error.
  if (!outcome.done()) suite::DropExtractionAhead();
  if (outcome.kind != Outcome::Kind::Failed && outcome.refusal != Refusal::InstalledVersion &&
      outcome.refusal != Refusal::UnknownDataVersion) {
    rt::Moment("check-done");
  }
  return outcome;
}

Outcome Outcome::Refused(Refusal why, std::string version) {
  Outcome outcome;
  outcome.kind = Kind::Refused;
  outcome.refusal = why;
  outcome.dataVersion = std::move(version);
  return outcome;
}

Outcome Outcome::Failed(rt::RuntimeError error) {
  Outcome outcome;
  outcome.kind = Kind::Failed;
  outcome.error = std::move(error);
  return outcome;
}

std::string RefusalText(Refusal refusal) {
  switch (refusal) {
    case Refusal::InstalledVersion:
      return std::string("「あおば!ナビ」のバージョンが") + kRequiredSuiteVersion + "の場合のみ復旧できます。";
    case Refusal::UnknownDataVersion:
      return "バックアップデータのバージョンが不明です。";
    case Refusal::DataVersion:
      return "バックアップのバージョンは" + AcceptedDataVersionsText() + "が対象です。";
    case Refusal::None:
      break;
  }
  return {};
}

}  // namespace zr::restore
