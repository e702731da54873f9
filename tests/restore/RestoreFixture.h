#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/FakeSuite.h"
#include "tests/support/ScriptedInteraction.h"
#include "tests/support/TempDir.h"
#include "window/Presenters.h"

namespace zr::test {

// A stand-in for the restore window that records its enabled state.
class FakeRestoreWindow : public window::RestoreWindow {
 public:
  int32_t hWnd() const override { return 0x1234; }
  void SetEnabled(bool enabled) override {
    if (failSetEnabled) throw rt::RuntimeError(5, "ウィンドウを操作できません。");
    this->enabled = enabled;
    enabledChanges.push_back(enabled);
  }
  std::string BkupPath() const override { return bkupPath; }

  bool enabled = true;
  bool failSetEnabled = false;
  std::vector<bool> enabledChanges;
  std::string bkupPath;
};

inline constexpr const char* kRestoreTitle = "あおば！ナビ";
inline constexpr const char* kTail = "\r\nデータは復旧しませんでした。\r\n";

}  // namespace zr::test

// The window's presenters of the check and the restore, which these tests
// drive with the stand-in above.
namespace zr::restore {
using window::MBlnZrVerChk;
using window::MSubRestoreSyori;
}  // namespace zr::restore
