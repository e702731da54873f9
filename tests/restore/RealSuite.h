#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "suite/Components.h"
#include "tests/support/SuiteHomeScope.h"

namespace zr::test {

// A suite home with real settings, the local suite's services and the
// restore history in the home, as the program runs them; the wait notice only records, since these tests have no
// window to centre it over.
class RealSuite {
 public:
  RealSuite();
  ~RealSuite();
  RealSuite(const RealSuite&) = delete;
  RealSuite& operator=(const RealSuite&) = delete;

  const std::filesystem::path& home() const { return home_.home(); }
  std::filesystem::path temp() const { return home() / "temp"; }
  std::filesystem::path data() const { return home() / "data"; }
  std::filesystem::path backups() const { return home() / "backup" / "ZrDataBK"; }
  std::filesystem::path history() const { return home() / "history"; }

  // Rewrites suite.ini with these values.
  void Settings(const std::string& version, const std::string& dataPath);
  std::string ErrorLog() const;

 private:
  SuiteHomeScope home_;
  suite::ComponentFactory previous_;
};

}  // namespace zr::test
