#include "platform/runtime/FileSystem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/ErrorOf.h"
#include "tests/support/TempDir.h"
#include "tests/support/WithoutFileAccessOverride.h"

namespace zr::rt {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

using test::ErrorOf;

TEST(FolderExistsTest, AnswersForFoldersFilesAndNothing) {
  test::TempDir dir;
  fs::create_directory(dir.path() / "ZrDataBK");
  test::WriteFile(dir.path() / "file.lzh", "x");
  fs::create_directory_symlink(dir.path() / "ZrDataBK", dir.path() / "link");

  EXPECT_TRUE(FolderExists(dir.folder() + "ZrDataBK/"));
  EXPECT_TRUE(FolderExists(dir.folder() + "ZrDataBK"));
  EXPECT_TRUE(FolderExists(dir.folder() + "link/"));
  EXPECT_FALSE(FolderExists(dir.folder() + "missing/"));
  EXPECT_FALSE(FolderExists(dir.folder() + "file.lzh"));
  EXPECT_FALSE(FolderExists(dir.folder() + "file.lzh/"));
  EXPECT_FALSE(FolderExists(dir.folder() + "file.lzh/ZrDataBK/"));
  EXPECT_FALSE(FolderExists(""));
}

TEST(FolderExistsTest, AParentThatRefusesAccessIsAnErrorNotANo) {
  test::TempDir dir;
  fs::create_directories(dir.path() / "locked" / "ZrDataBK");
  ASSERT_EQ(chmod((dir.path() / "locked").c_str(), 0), 0);
  test::WithoutFileAccessOverride unprivileged;
  ASSERT_TRUE(unprivileged.Refuses(dir.folder() + "locked")) << "this process reads every folder";

  try {
    FolderExists(dir.folder() + "locked/ZrDataBK/");
    FAIL() << "no error";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), err::PermissionDenied);
    EXPECT_NE(e.description().find(dir.folder() + "locked/ZrDataBK/"), std::string::npos) << e.description();
  }
}

TEST(FilePatternTest, WildcardsMatchWithoutRegardToCase) {
  EXPECT_TRUE(MatchesFilePattern("a.lzh", "*.lzh"));
  EXPECT_TRUE(MatchesFilePattern("BACKUP.LZH", "*.lzh"));
  EXPECT_TRUE(MatchesFilePattern("Mixed.Lzh", "*.LZH"));
  EXPECT_TRUE(MatchesFilePattern("バックアップ２０２４.lzh", "*.lzh"));
  EXPECT_TRUE(MatchesFilePattern(".lzh", "*.lzh"));
  EXPECT_FALSE(MatchesFilePattern("a.lzh.txt", "*.lzh"));
  EXPECT_FALSE(MatchesFilePattern("a.lz", "*.lzh"));
  EXPECT_FALSE(MatchesFilePattern("alzh", "*.lzh"));

  // "?" is one character, also a Japanese one of three bytes.
  EXPECT_TRUE(MatchesFilePattern("b1.lzh", "b?.lzh"));
  EXPECT_TRUE(MatchesFilePattern("b雛.lzh", "b?.lzh"));
  EXPECT_FALSE(MatchesFilePattern("b12.lzh", "b?.lzh"));

  EXPECT_TRUE(MatchesFilePattern("README", "*.*"));
  EXPECT_TRUE(MatchesFilePattern("a.txt", "*.lzh;*.txt"));
  EXPECT_TRUE(MatchesFilePattern("a.txt", "*.lzh; *.txt"));
  EXPECT_FALSE(MatchesFilePattern("a.doc", "*.lzh;*.txt"));
  EXPECT_FALSE(MatchesFilePattern("a.lzh", ""));
  // Many stars must not take exponential time.
  EXPECT_FALSE(MatchesFilePattern(std::string(200, 'a'), "*a*a*a*a*a*a*a*a*a*a*a*a*b"));
}

TEST(ListFilesTest, ListsMatchingOrdinaryFilesSortedByName) {
  test::TempDir dir;
  for (const char* name : {"c.lzh", "B.LZH", "a.lzh", "b.txt", ".hidden.lzh", "readonly.lzh", "雛形.lzh"}) {
    test::WriteFile(dir.path() / name, "x");
  }
  fs::permissions(dir.path() / "readonly.lzh", fs::perms::owner_read);
  fs::create_directory(dir.path() / "folder.lzh");
  fs::create_symlink(dir.path() / "a.lzh", dir.path() / "link.lzh");
  fs::create_symlink(dir.path() / "gone", dir.path() / "dangling.lzh");
  fs::create_symlink(dir.path() / "folder.lzh", dir.path() / "folderlink.lzh");
  ASSERT_EQ(mkfifo((dir.path() / "pipe.lzh").c_str(), 0600), 0);

  EXPECT_EQ(ListFiles(dir.folder(), "*.lzh"),
            (Names{"a.lzh", "B.LZH", "c.lzh", "link.lzh", "readonly.lzh", "雛形.lzh"}));
  EXPECT_EQ(ListFiles(dir.path().string(), "*.txt"), Names{"b.txt"});
  EXPECT_EQ(ListFiles(dir.folder(), "*.doc"), Names{});
}

TEST(ListFilesTest, FoldersThatCannotBeListedAreErrors) {
  test::TempDir dir;
  test::WriteFile(dir.path() / "file.lzh", "x");
  fs::create_directory(dir.path() / "locked");
  ASSERT_EQ(chmod((dir.path() / "locked").c_str(), 0), 0);

  EXPECT_EQ(ErrorOf([&] { ListFiles(dir.folder() + "missing/", "*.lzh"); }), err::PathNotFound);
  EXPECT_EQ(ErrorOf([&] { ListFiles(dir.folder() + "file.lzh/", "*.lzh"); }), err::PathNotFound);
  EXPECT_EQ(ErrorOf([&] { ListFiles("", "*.lzh"); }), err::PathNotFound);

  test::WithoutFileAccessOverride unprivileged;
  ASSERT_TRUE(unprivileged.Refuses(dir.folder() + "locked")) << "this process reads every folder";
  EXPECT_EQ(ErrorOf([&] { ListFiles(dir.folder() + "locked/", "*.lzh"); }), err::PermissionDenied);
}

TEST(FolderErrorTest, DeviceFailuresAreDeviceUnavailable) {
  for (int errnum : {EIO, ENXIO, ENODEV, ENOMEDIUM, EHOSTDOWN, ETIMEDOUT, ESTALE}) {
    const RuntimeError e = FolderError(errnum, "/media/mo/");
    EXPECT_EQ(e.number(), err::DeviceUnavailable) << errnum;
    EXPECT_NE(e.description().find("/media/mo/"), std::string::npos);
  }
  EXPECT_EQ(FolderError(ENOENT, "/x").number(), err::PathNotFound);
  EXPECT_EQ(FolderError(EACCES, "/x").number(), err::PermissionDenied);
  EXPECT_EQ(FolderError(ELOOP, "/x").number(), err::PathFileAccess);
}

}  // namespace
}  // namespace zr::rt
