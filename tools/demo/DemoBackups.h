#pragma once

#include <filesystem>
#include <string>

// Backups and template databases made with the project's own writers, as
// the suite's backup function lays them out.
namespace zr::demo {

inline constexpr const char* kSuitePassword = "R$KQTM3VXEJW8FNUPC";

struct BackupContent {
  // Empty: the archive has no common database at all.
  std::string dataVersion = "9.2.0";
  bool withCommonDatabase = true;
  bool damageTuBun = false;
  // A label written into the templates so a restore can be seen to happen.
  std::string label = "バックアップ";
};

// The common database of a backup: XC_CONTROL with its ZrVer row.
std::string CommonDatabase(const std::string& dataVersion);

// A template database holding a few rows that carry `label`.
std::string TemplateDatabase(const std::string& table, const std::string& label);

// One backup archive as the suite writes them: a few other members, a
// Japanese-named member ahead of the wanted ones, -lh5- compressed.
void WriteBackupArchive(const std::filesystem::path& path, const BackupContent& content);

void WriteLiveTemplates(const std::filesystem::path& dataFolder);

// A suite home's settings: suite.ini (install root, version 10.0.0, data
// folder stored without its closing separator, temporary folder) and ZrX.ini
// pointing at <home>/backup/; creates the install root's cjs folder and the
// temporary folder.
void WriteSuiteSettings(const std::filesystem::path& home);

// The demo's ZrDataBK folder: one backup for each outcome.
void WriteDemoBackups(const std::filesystem::path& folder);

}  // namespace zr::demo
