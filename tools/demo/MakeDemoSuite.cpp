// Creates a demo suite home: settings, an install root, a data folder with
// live templates, a temporary folder and a backup location whose ZrDataBK
// folder holds one backup for each outcome the tool can report.
#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/demo/DemoBackups.h"

namespace fs = std::filesystem;

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
    zr::demo::WriteSuiteSettings(home);
    zr::demo::WriteLiveTemplates(home / "data");
    zr::demo::WriteDemoBackups(home / "backup" / "ZrDataBK");
    std::printf("demo suite created at %s\n", home.c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make-demo-suite: %s\n", e.what());
    return 1;
  }
}
