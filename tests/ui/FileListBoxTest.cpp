#include "platform/ui/FileListBox.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAccessible>
#include <filesystem>

#include "platform/runtime/RuntimeError.h"
#include "tests/support/CurrentDirectoryScope.h"
#include "tests/support/ErrorOf.h"
#include "tests/support/ListEntries.h"
#include "tests/support/TempDir.h"
#include "tests/support/WithoutFileAccessOverride.h"

namespace zr::ui {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

using test::ListEntries;

// Runs the test inside its own folder as the current directory.
class FileListBoxTest : public ::testing::Test {
 protected:
  FileListBoxTest() {
    test::WriteFile(dir.path() / "here.lzh", "x");
    test::WriteFile(dir.path() / "here.txt", "x");
    fs::create_directories(dir.path() / "BK" / "ZrDataBK");
    for (const char* name : {"b.lzh", "A.LZH", "c.txt", ".hidden.lzh"}) {
      test::WriteFile(dir.path() / "BK" / "ZrDataBK" / name, "x");
    }
    fs::create_directory(dir.path() / "BK" / "ZrDataBK" / "sub.lzh");
  }

  int32_t ErrorOfSetPath(FileListBox& list, const std::string& folder) {
    return test::ErrorOf([&] { list.SetPath(folder); });
  }

  test::TempDir dir;
  test::CurrentDirectoryScope here{dir.path()};
};

TEST_F(FileListBoxTest, StartsOnTheCurrentDirectoryWithEveryFile) {
  FileListBox list;
  EXPECT_EQ(list.Path(), fs::current_path().string());
  EXPECT_EQ(list.Pattern(), "*.*");
  EXPECT_EQ(ListEntries(list), (Names{"here.lzh", "here.txt"}));
  EXPECT_EQ(list.ListIndex(), -1);
  EXPECT_EQ(list.selectionMode(), QAbstractItemView::SingleSelection);
}

TEST_F(FileListBoxTest, ShowsTheMatchingFilesOfTheFolderItIsPointedAt) {
  FileListBox list;
  list.SetPattern("*.lzh");
  EXPECT_EQ(ListEntries(list), Names{"here.lzh"});

  list.SetPath(dir.folder() + "BK/ZrDataBK/");
  EXPECT_EQ(list.Path(), dir.folder() + "BK/ZrDataBK");
  EXPECT_EQ(ListEntries(list), (Names{"A.LZH", "b.lzh"}));
  EXPECT_EQ(list.ListCount(), 2);

  list.SetPattern("*.txt");
  EXPECT_EQ(ListEntries(list), Names{"c.txt"});
}

TEST_F(FileListBoxTest, ReportsItsFolderWithoutTheClosingSeparator) {
  FileListBox list;
  list.SetPath(dir.folder() + "BK//ZrDataBK/./");
  EXPECT_EQ(list.Path(), dir.folder() + "BK/ZrDataBK");
  list.SetPath("BK/");
  EXPECT_EQ(list.Path(), dir.folder() + "BK");
  list.SetPath("/");
  EXPECT_EQ(list.Path(), "/");
}

TEST_F(FileListBoxTest, SelectsOneEntryAtATime) {
  FileListBox list;
  list.SetPattern("*.lzh");
  list.SetPath(dir.folder() + "BK/ZrDataBK");
  list.SetListIndex(1);
  EXPECT_EQ(list.ListIndex(), 1);
  EXPECT_EQ(list.List(list.ListIndex()), "b.lzh");
  list.SetListIndex(0);
  EXPECT_EQ(list.ListIndex(), 0);
  EXPECT_EQ(list.selectedItems().size(), 1);
  list.SetListIndex(-1);
  EXPECT_EQ(list.ListIndex(), -1);

  // A current entry that is not selected is no selection.
  list.setCurrentRow(1, QItemSelectionModel::NoUpdate);
  EXPECT_EQ(list.ListIndex(), -1);

  list.SetListIndex(1);
  list.Refresh();
  EXPECT_EQ(list.ListIndex(), -1);

  EXPECT_THROW(list.List(2), rt::RuntimeError);
  EXPECT_THROW(list.List(-1), rt::RuntimeError);
  EXPECT_THROW(list.SetListIndex(2), rt::RuntimeError);
}

TEST_F(FileListBoxTest, AFolderThatCannotBeListedChangesNothing) {
  FileListBox list;
  list.SetPattern("*.lzh");
  list.SetPath(dir.folder() + "BK/ZrDataBK/");
  list.SetListIndex(1);
  const std::string before = list.Path();

  fs::create_directory(dir.path() / "locked");
  ASSERT_EQ(chmod((dir.path() / "locked").c_str(), 0), 0);
  test::WriteFile(dir.path() / "file", "x");

  EXPECT_EQ(ErrorOfSetPath(list, dir.folder() + "missing/"), rt::err::PathNotFound);
  EXPECT_EQ(ErrorOfSetPath(list, dir.folder() + "file/"), rt::err::PathNotFound);
  EXPECT_EQ(ErrorOfSetPath(list, ""), rt::err::PathNotFound);
  {
    test::WithoutFileAccessOverride unprivileged;
    if (unprivileged.Refuses(dir.folder() + "locked")) {
      EXPECT_EQ(ErrorOfSetPath(list, dir.folder() + "locked/"), rt::err::PermissionDenied);
    } else {
      ADD_FAILURE() << "could not make a folder unreadable for this process";
    }
  }
  EXPECT_EQ(list.Path(), before);
  EXPECT_EQ(list.Pattern(), "*.lzh");
  EXPECT_EQ(ListEntries(list), (Names{"A.LZH", "b.lzh"}));
  EXPECT_EQ(list.ListIndex(), 1);
}

TEST_F(FileListBoxTest, ANewPatternOnAFolderGoneUnreadableLeavesNoStaleEntries) {
  FileListBox list;
  list.SetPath(dir.folder() + "BK/ZrDataBK");
  fs::remove_all(dir.path() / "BK");
  EXPECT_NO_THROW(list.SetPattern("*.lzh"));
  EXPECT_EQ(list.Pattern(), "*.lzh");
  EXPECT_EQ(list.Path(), dir.folder() + "BK/ZrDataBK");
  EXPECT_EQ(list.ListCount(), 0);
  EXPECT_THROW(list.Refresh(), rt::RuntimeError);
}

TEST_F(FileListBoxTest, EntriesKeepTheirBytesAndReachAccessibilityTools) {
  test::WriteFile(dir.path() / "BK" / "雛形（文書）.lzh", "x");
  const std::string latin1 = "caf\xe9.lzh";  // written on a system that was not UTF-8
  test::WriteFile(dir.path() / "BK" / latin1, "x");
  FileListBox list;
  list.SetPattern("*.lzh");
  list.SetPath(dir.folder() + "BK");
  ASSERT_EQ(ListEntries(list), (Names{latin1, "雛形（文書）.lzh"}));

  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&list);
  ASSERT_NE(accessible, nullptr);
  QStringList names;
  for (int i = 0; i < accessible->childCount(); ++i) {
    if (QAccessibleInterface* child = accessible->child(i); child && child->role() == QAccessible::ListItem) {
      names << child->text(QAccessible::Name);
    }
  }
  EXPECT_TRUE(names.contains(QString::fromUtf8("雛形（文書）.lzh"))) << names.join(',').toStdString();
  EXPECT_EQ(names.size(), 2);
}

}  // namespace
}  // namespace zr::ui
