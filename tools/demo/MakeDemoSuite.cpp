// Creates a demo suite home: settings, an install root, a data folder with
// live templates, a temporary folder and a backup location whose ZrDataBK
// folder holds one backup for each outcome the tool can report.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/demo/DemoBackups.h"

namespace fs = std::filesystem;

namespace {

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s SUITE_HOME\n", argv[0]);
    return 2;
  }
  try {
    const fs::path home = fs::absolute(argv[1]);
    if (fs::exists(home / "suite.ini")) {
      std::printf("demo suite already at %s\n", home.c_str());
      return 0;
    }
    const std::string h = home.string();
    fs::create_directories(home / "install" / "cjs");
    fs::create_directories(home / "temp");
    // The data folder is stored without its closing separator, as many
    // installations have it; the tool adds one.
    WriteText(home / "suite.ini", "[COMMON]\r\nroot=" + h + "/install\r\nVer=10.0.0\r\n\r\n[Common]\r\nDataPath=" + h +
                                      "/data\r\n\r\n[COM]\r\nTEMP_PATH=" + h + "/temp/\r\n");
    WriteText(home / "ZrX.ini", "[BKUP]\r\nBKUP_PATH=" + h + "/backup/\r\n");
    zr::demo::WriteLiveTemplates(home / "data");
    zr::demo::WriteDemoBackups(home / "backup" / "ZrDataBK");
    std::printf("demo suite created at %s\n", home.c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make-demo-suite: %s\n", e.what());
    return 1;
  }
}
