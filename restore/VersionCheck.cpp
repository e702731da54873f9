#include "restore/VersionCheck.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "platform/jet/Dao.h"
#include "platform/runtime/Interaction.h"
#include "platform/runtime/Moments.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/Text.h"
#include "restore/PrivateFolder.h"
#include "restore/TemplateRestore.h"
#include "startup/ComErr.h"
#include "startup/PathSeparator.h"
#include "startup/modZrBunsyoRes.h"
#include "suite/Components.h"
#include "suite/SuiteName.h"

namespace zr::restore {
namespace {

constexpr std::array<const char*, 3> kAcceptedDataVersions{"9.0.0", "9.1.0", "9.2.0"};
constexpr const char* kCommonDatabase = "ZrXXComn.wf6";
constexpr const char* kConnect = ";PWD=R$KQTM3VXEJW8FNUPC";
constexpr const char* kQuery = "SELECT VALUECHAR FROM XC_CONTROL WHERE ITEM = 'ZrVer'";
constexpr int16_t kBareNameMode = 1;
constexpr const char* kFolderPrefix = "zr-check-";

void Refuse(const std::string& firstLine) {
  suite::DropExtractionAhead();
  rt::MsgBox(firstLine + "\r\nデータは復旧しませんでした。\r\n", rt::mb::OkOnly | rt::mb::Exclamation,
             suite::kSuiteName);
}

std::string DataFolderSetting(suite::SuiteServices& services) {
  std::string section = "Common";
  std::string key = "DataPath";
  std::string folder;
  services.ReadSetting(section, key, folder);
  return folder;
}

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

}  // namespace

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

bool IsAcceptedDataVersion(const std::string& version) {
  return std::find(kAcceptedDataVersions.begin(), kAcceptedDataVersions.end(), version) != kAcceptedDataVersions.end();
}

namespace {

std::string ReadVersionRow(std::unique_ptr<jet::Database> database) {
  auto snapshot = database->OpenRecordset(kQuery, jet::dbOpenSnapshot);
  std::string version;
  if (!snapshot->IsEOF()) version = jet::ToText(snapshot->Fields(0).GetValue());
  snapshot->Close();
  snapshot.reset();
  database->Close();
  return version;
}

}  // namespace

std::string ReadDataVersion(int copyFd, const std::string& shown) {
  return ReadVersionRow(jet::Engine().Workspaces(0).OpenDatabase(copyFd, shown, true, true, kConnect));
}

bool MBlnZrVerChk(RestoreWindow& form, std::string archiveName) {
  bool result = false;
  try {
    auto services = suite::CreateSuiteServices();
    std::string section = "COMMON";
    std::string key = "Ver";
    std::string installedVersion;
    services->ReadSetting(section, key, installedVersion);
    if (installedVersion != kRequiredSuiteVersion) {
      Refuse("「あおば!ナビ」のバージョンが10.0.0の場合のみ復旧できます。");
      return false;
    }

    // Whatever else is in the temporary folder may be another user's: the
    // copy goes into a folder of the check's own, which goes with everything
    // in it on every way out (before the error trap's message), and is read
    // through the descriptor the extraction hands back, never by its name.
    // Whether the archive holds the member is the extraction's answer.
    std::optional<PrivateFolder> folder;
    rt::UniqueFd copy;
    if (!archiveName.empty()) {
      // The templates are decoded beside the live ones while the version is
      // read; nothing is replaced unless the check passes and the restore
      // asks for exactly them. Every refusal and error drops them first.
      const std::string temporaryFolder = CheckedTemporaryFolder(startup::GStrTempPath, DataFolderSetting(*services));
      suite::BeginExtractionAhead(form.BkupPath() + archiveName, kKeepFoldersMode, kTemplateMembers);
      folder.emplace(temporaryFolder, kFolderPrefix);
      std::vector<std::string> members{kCommonDatabaseMember};
      int16_t missing = 0;
      std::vector<rt::UniqueFd> files;
      services->ExtractArchiveToRead(form.hWnd(), form.BkupPath() + archiveName, folder->fd(), folder->path(),
                                     kBareNameMode, members, missing, files);
      rt::Moment("check-extracted");
      if (missing == 0 && !files.empty()) copy = std::move(files.front());
    }

    if (!copy.valid()) {
      Refuse("バックアップデータのバージョンが不明です。");
      return false;
    }

    const std::string dataVersion = ReadDataVersion(copy.get(), folder->path() + kCommonDatabase);
    rt::Moment("check-read");
    if (IsAcceptedDataVersion(dataVersion)) {
      result = true;
    } else {
      Refuse("バックアップのバージョンは9.0.0、9.1.0、9.2.0が対象です。");
    }
    copy.Reset();
    folder.reset();
  } catch (...) {
    suite::DropExtractionAhead();
    startup::TrapCurrentError("MBlnZrVerChk");
    return false;
  }

  rt::Moment("check-done");
  return result;
}

}  // namespace zr::restore
