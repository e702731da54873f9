#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QWidget>

#include "suite/Components.h"
#include "suite/local/LocalStartGate.h"
#include "suite/local/LocalSuiteServices.h"
#include "suite/widgets/FolderPicker.h"
#include "suite/widgets/InstallLocalSuite.h"
#include "suite/widgets/QtProgressNotice.h"
#include "tests/support/SuiteHomeScope.h"

namespace zr::suite {
namespace {

TEST(FolderPickerTest, DialogChoosesFoldersOnlyAndStartsAtTheInitialFolder) {
  test::TempDir dir;
  std::filesystem::create_directories(dir.path() / "backup");
  QWidget owner;
  owner.show();

  const auto dialog = BuildFolderDialog(&owner, "", dir.folder() + "backup/");
  EXPECT_EQ(dialog->parentWidget(), &owner);
  EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("フォルダの参照"));
  EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
  EXPECT_TRUE(dialog->testOption(QFileDialog::ShowDirsOnly));
  EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog)) << "Qt's own dialog follows our translation";
  EXPECT_EQ(dialog->directory().absolutePath(), QString::fromStdString((dir.path() / "backup").string()));
  EXPECT_FALSE(dialog->isVisible());

  const auto titled = BuildFolderDialog(nullptr, "バックアップ場所", dir.folder());
  EXPECT_EQ(titled->windowTitle(), QStringLiteral("バックアップ場所"));
  EXPECT_EQ(titled->parentWidget(), nullptr);
  EXPECT_EQ(titled->windowModality(), Qt::ApplicationModal);
}

TEST(FolderPickerTest, StartsAtTheNearestFolderThatExists) {
  test::TempDir dir;
  std::filesystem::create_directories(dir.path() / "backup");
  EXPECT_EQ(StartingFolder(dir.folder() + "backup/gone/deeper/"),
            QString::fromStdString((dir.path() / "backup").string()));
  EXPECT_EQ(StartingFolder(""), QDir::homePath());
  EXPECT_EQ(StartingFolder("relative/not/there"), QDir::homePath());
  test::WriteFile(dir.path() / "file.lzh", "");
  EXPECT_EQ(StartingFolder(dir.folder() + "file.lzh"), QString::fromStdString(dir.path().string()));
}

TEST(FolderPickerTest, OwnerIsFoundByItsHandle) {
  QWidget first;
  QWidget second;
  first.show();
  second.show();
  EXPECT_EQ(FindTopLevelByHandle(static_cast<int32_t>(second.winId())), &second);
  EXPECT_EQ(FindTopLevelByHandle(static_cast<int32_t>(first.winId())), &first);
  EXPECT_EQ(FindTopLevelByHandle(0), nullptr);
  EXPECT_EQ(FindTopLevelByHandle(static_cast<int32_t>(first.winId()) + 1000), nullptr);
}

TEST(InstallLocalSuiteTest, EveryComponentIsThisPlatforms) {
  test::SuiteHomeScope home;
  const ComponentFactory previous = InstallLocalSuite();
  const auto services = CreateSuiteServices();
  EXPECT_NE(dynamic_cast<LocalSuiteServices*>(services.get()), nullptr);
  const auto gate = CreateStartGate();
  EXPECT_NE(dynamic_cast<LocalStartGate*>(gate.get()), nullptr);
  const auto notice = CreateProgressNotice();
  EXPECT_NE(dynamic_cast<QtProgressNotice*>(notice.get()), nullptr);

  // Each call makes a new instance, as every procedure needs its own.
  EXPECT_NE(CreateSuiteServices().get(), services.get());

  // The services read the suite home and have the picker wired in: a handle
  // that names no window still gets a picker, never an error. It is not shown
  // here; the wiring is what counts.
  test::WriteFile(home.home() / "suite.ini", "[COMMON]\nVer=10.0.0\n");
  std::string section = "COMMON";
  std::string key = "Ver";
  std::string value;
  services->ReadSetting(section, key, value);
  EXPECT_EQ(value, "10.0.0");
  InstallComponentFactory(previous);
}

}  // namespace
}  // namespace zr::suite
