#include "tools/demo/DemoBackups.h"

#include <fstream>
#include <stdexcept>
#include <vector>

#include "tools/jetwriter/JetWriter.h"
#include "tools/lzhwriter/LzhWriter.h"

namespace zr::demo {
namespace fs = std::filesystem;
namespace jw = zr::jet::writer;
namespace lw = zr::lzh::writer;

std::string CommonDatabase(const std::string& dataVersion) {
  jw::Database database;
  database.password = kSuitePassword;
  database.tables.push_back(jw::ControlTable({{"ZrVer", dataVersion}, {"ZrName", "あおば！ナビ"}}));
  return jw::Build(database);
}

std::string TemplateDatabase(const std::string& table, const std::string& label) {
  jw::Database database;
  jw::Table templates{table, {"CODE", "NAME"}, {}};
  for (const char* name : {"アセスメント", "サービス計画書", "通所"}) {
    templates.rows.push_back(
        {std::string("00") + std::to_string(templates.rows.size() + 1), std::string(name) + "の雛形（" + label + "）"});
  }
  database.tables.push_back(templates);
  return jw::Build(database);
}

void WriteBackupArchive(const fs::path& path, const BackupContent& content) {
  std::vector<lw::Member> members;
  const auto add = [&](const std::string& name, const std::string& data) {
    members.push_back(lw::MakeMember(name, data, 2, lw::Method::Lh5));
    members.back().codePage = 932;
  };
  add("Data\\利用者情報.wf6", TemplateDatabase("RIYOUSYA", "利用者"));
  if (content.withCommonDatabase) add("Data\\ZrXXComn.wf6", CommonDatabase(content.dataVersion));
  add("Work\\ZrBunsyo.wf6", TemplateDatabase("BUNSYO", content.label));
  add("Work\\ZrTuBun.wf6", TemplateDatabase("TUBUN", content.label));
  if (content.damageTuBun) members.back().faults.dataCrc = true;
  fs::create_directories(path.parent_path());
  lw::WriteArchiveFile(path.string(), members);
}

namespace {

void WriteBytes(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

void WriteSuiteSettings(const fs::path& home) {
  const std::string h = home.string();
  fs::create_directories(home / "install" / "cjs");
  fs::create_directories(home / "temp");
  WriteBytes(home / "suite.ini", "[COMMON]\r\nroot=" + h + "/install\r\nVer=10.0.0\r\n\r\n[Common]\r\nDataPath=" + h +
                                     "/data\r\n\r\n[COM]\r\nTEMP_PATH=" + h + "/temp/\r\n");
  WriteBytes(home / "ZrX.ini", "[BKUP]\r\nBKUP_PATH=" + h + "/backup/\r\n");
}

void WriteLiveTemplates(const fs::path& dataFolder) {
  WriteBytes(dataFolder / "Work" / "ZrBunsyo.wf6", TemplateDatabase("BUNSYO", "現在"));
  WriteBytes(dataFolder / "Work" / "ZrTuBun.wf6", TemplateDatabase("TUBUN", "現在"));
}

void WriteDemoBackups(const fs::path& folder) {
  WriteBackupArchive(folder / "ZrBackup_20241101.lzh", {"9.2.0", true, false, "2024年11月1日"});
  WriteBackupArchive(folder / "ZrBackup_20241201_v930.lzh", {"9.3.0", true, false, "9.3.0"});
  WriteBackupArchive(folder / "ZrBackup_20241215_nocomn.lzh", {"", false, false, "共通なし"});
  WriteBackupArchive(folder / "ZrBackup_20241220_damaged.lzh", {"9.2.0", true, true, "破損"});
  std::ofstream note(folder / "readme.txt", std::ios::trunc);
  note << "This file is not a backup archive; the tool does not list it.\n";
}

}  // namespace zr::demo
