// Extraction of real and generated archives: every level and method in both
// modes, names, replacement rules and argument errors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <thread>

#include "platform/lzh/Extract.h"
#include "platform/runtime/Interaction.h"
#include "platform/runtime/RuntimeError.h"
#include "tests/lzh/LzhTestSupport.h"
#include "tests/support/ErrorOf.h"
#include "tests/support/TempDir.h"
#include "tests/support/WithoutFileAccessOverride.h"
#include "tools/lzhwriter/LzhWriter.h"

namespace zr::lzh::test {
namespace {

namespace w = zr::lzh::writer;
using zr::test::ReadFile;
using zr::test::TempDir;
using zr::test::WriteFile;

const std::string kComn = "Data\\ZrXXComn.wf6";
const std::string kBunsyo = "Work\\ZrBunsyo.wf6";
const std::string kTuBun = "Work\\ZrTuBun.wf6";

std::string ErrorTextOf(const std::function<void()>& call) {
  std::string text;
  zr::test::ErrorOf(call, &text);
  return text;
}

// The three fixture members, written by our own writer.
std::vector<w::Member> FixtureMembers(int level, w::Method method) {
  std::vector<w::Member> m;
  for (const char* name : {"Data\\ZrXXComn.wf6", "Work\\ZrBunsyo.wf6", "Work\\ZrTuBun.wf6"}) {
    std::string key = name;
    std::replace(key.begin(), key.end(), '\\', '/');
    w::Member member;
    member.path = name;
    member.data = FixtureContent(key);
    member.level = level;
    member.method = method;
    m.push_back(member);
  }
  return m;
}

// -------------------------------------------------- levels, methods, modes

struct Source {
  std::string label;
  std::function<fs::path(const fs::path& dir)> make;
};

void PrintTo(const Source& s, std::ostream* os) { *os << s.label; }

class EveryLevelAndMethod : public ::testing::TestWithParam<Source> {};

TEST_P(EveryLevelAndMethod, ExtractsExactBytesInBothModes) {
  TempDir dir;
  const fs::path archive = GetParam().make(dir.path());
  const fs::path bare = dir.path() / "bare";
  const fs::path kept = dir.path() / "kept";
  fs::create_directory(bare);
  fs::create_directory(kept);

  EXPECT_EQ(0, ExtractMembers(archive, bare.string() + "/", Mode::BareName, {kComn}));
  EXPECT_EQ(ReadFile(bare / "ZrXXComn.wf6"), FixtureContent("Data/ZrXXComn.wf6"));
  EXPECT_EQ(1u, Snapshot(bare).size()) << "mode 1 writes the bare file and nothing else";

  EXPECT_EQ(0, ExtractMembers(archive, kept.string(), Mode::KeepFolders, {kBunsyo, kTuBun}));
  EXPECT_EQ(ReadFile(kept / "Work/ZrBunsyo.wf6"), FixtureContent("Work/ZrBunsyo.wf6"));
  EXPECT_EQ(ReadFile(kept / "Work/ZrTuBun.wf6"), FixtureContent("Work/ZrTuBun.wf6"));
  EXPECT_EQ(3u, Snapshot(kept).size()) << "mode 0 writes the folder and the two files";
}

std::vector<Source> AllSources() {
  std::vector<Source> sources;
  for (const char* method : {"5", "6", "7"}) {
    for (const char* level : {"0", "1", "2"}) {
      const std::string name = std::string("lh") + method + "_h" + level + ".lzh";
      sources.push_back(
          {"fixture_lh" + std::string(method) + "_h" + level, [name](const fs::path&) { return FixturePath(name); }});
    }
  }
  const std::pair<const char*, w::Method> methods[] = {
      {"lh0", w::Method::Lh0}, {"lh5", w::Method::Lh5}, {"lh6", w::Method::Lh6}, {"lh7", w::Method::Lh7}};
  for (const auto& [id, method] : methods) {
    for (int level = 0; level <= 3; ++level) {
      sources.push_back(
          {std::string("writer_") + id + "_h" + std::to_string(level), [method = method, level](const fs::path& dir) {
             const fs::path p = dir / "made.lzh";
             w::WriteArchiveFile(p, FixtureMembers(level, method));
             return p;
           }});
    }
  }
  return sources;
}

INSTANTIATE_TEST_SUITE_P(Lzh, EveryLevelAndMethod, ::testing::ValuesIn(AllSources()),
                         [](const auto& info) { return info.param.label; });

// ------------------------------------------------------------------- names

// Restores the process locale a test changed.
class ProcessLocale {
 public:
  explicit ProcessLocale(const char* name) : saved_(std::setlocale(LC_ALL, nullptr)) { std::setlocale(LC_ALL, name); }
  ~ProcessLocale() { std::setlocale(LC_ALL, saved_.c_str()); }

 private:
  std::string saved_;
};

TEST(LzhNames, Cp932NamesAheadOfWantedOnesDecodeInAPlainCLocale) {
  ProcessLocale c("C");
  for (const char* fixture : {"jp_h0.lzh", "jp_h1.lzh", "jp_h2.lzh"}) {
    SCOPED_TRACE(fixture);
    TempDir dir;
    // 表 and ソ end in the byte 0x5C, the backslash.
    EXPECT_EQ(0, ExtractMembers(FixturePath(fixture), dir.folder(), Mode::KeepFolders,
                                {kComn, "Data\\表示.txt", "ソフト.txt", kTuBun}));
    EXPECT_EQ(ReadFile(dir.path() / "Data/ZrXXComn.wf6"), FixtureContent("Data/ZrXXComn.wf6"));
    EXPECT_EQ(ReadFile(dir.path() / "Work/ZrTuBun.wf6"), FixtureContent("Work/ZrTuBun.wf6"));
    EXPECT_EQ(ReadFile(dir.path() / "Data/表示.txt"), "x\n");
    EXPECT_EQ(ReadFile(dir.path() / "ソフト.txt"), "y\n");
    EXPECT_STREQ("C", std::setlocale(LC_CTYPE, nullptr)) << "the process locale is left alone";
  }
}

TEST(LzhNames, BackslashInsideLevel1And2NamesSeparatesFolders) {
  for (const char* fixture : {"bslash_h1.lzh", "bslash_h2.lzh"}) {
    SCOPED_TRACE(fixture);
    TempDir dir;
    EXPECT_EQ(0, ExtractMembers(FixturePath(fixture), dir.folder(), Mode::KeepFolders, {kComn, kBunsyo}));
    EXPECT_EQ(ReadFile(dir.path() / "Data/ZrXXComn.wf6"), FixtureContent("Data/ZrXXComn.wf6"));
    EXPECT_EQ(ReadFile(dir.path() / "Work/ZrBunsyo.wf6"), FixtureContent("Work/ZrBunsyo.wf6"));
  }
}

TEST(LzhNames, MatchIgnoresAsciiCaseAndOutputNamesComeFromTheRequest) {
  TempDir dir;
  EXPECT_EQ(0, ExtractMembers(FixturePath("lh5_h1.lzh"), dir.folder(), Mode::KeepFolders,
                              {"data/zrxxcomn.WF6", "WORK\\ZRBUNSYO.WF6"}));
  EXPECT_EQ(ReadFile(dir.path() / "data/zrxxcomn.WF6"), FixtureContent("Data/ZrXXComn.wf6"));
  EXPECT_EQ(ReadFile(dir.path() / "WORK/ZRBUNSYO.WF6"), FixtureContent("Work/ZrBunsyo.wf6"));
  EXPECT_FALSE(fs::exists(dir.path() / "Data"));
}

TEST(LzhNames, LeadingSeparatorsOfStoredNamesAreDropped) {
  TempDir dir;
  for (int level : {0, 1, 2}) {
    w::Member m;
    m.path = "\\Work\\ZrBunsyo.wf6";
    m.data = "rooted";
    m.level = level;
    if (level > 0) {
      m.path = "ZrBunsyo.wf6";
      m.faults.rawDir = std::string("\xFFWork\xFF");
    }
    const fs::path archive = dir.path() / ("rooted" + std::to_string(level) + ".lzh");
    w::WriteArchiveFile(archive, {m});
    const fs::path out = dir.path() / ("out" + std::to_string(level));
    fs::create_directory(out);
    EXPECT_EQ(0, ExtractMembers(archive, out, Mode::KeepFolders, {kBunsyo})) << level;
    EXPECT_EQ(ReadFile(out / "Work/ZrBunsyo.wf6"), "rooted");
  }
}

TEST(LzhNames, UndecodableNamesArePassedOverWithoutStoppingTheWalk) {
  TempDir dir;
  auto odd = [](int level, const std::string& raw, std::optional<uint32_t> page) {
    w::Member m;
    m.path = "odd";
    m.data = "odd member";
    m.level = level;
    m.faults.rawName = raw;
    m.codePage = page;
    return m;
  };
  w::Member wanted;
  wanted.path = kTuBun;
  wanted.data = "wanted";
  for (int level : {0, 1, 2}) {
    SCOPED_TRACE(level);
    wanted.level = level;
    std::vector<w::Member> members = {odd(level, "\x81\x20.txt", std::nullopt)};
    if (level > 0) {
      // A header that names its code page and still holds bytes it cannot
      // decode, and one that claims UTF-8 with a broken sequence.
      members.push_back(odd(level, "\x81\x20.txt", 932));
      members.push_back(odd(level, "\xC3\x28.txt", 65001));
    }
    members.push_back(wanted);
    const fs::path archive = dir.path() / ("odd" + std::to_string(level) + ".lzh");
    w::WriteArchiveFile(archive, members);
    const fs::path out = dir.path() / ("out" + std::to_string(level));
    fs::create_directory(out);
    EXPECT_EQ(0, ExtractMembers(archive, out, Mode::KeepFolders, {kTuBun}));
    EXPECT_EQ(ReadFile(out / "Work/ZrTuBun.wf6"), "wanted");
  }
}

TEST(LzhNames, Utf16NameExtensionWinsOverTheAnsiName) {
  TempDir dir;
  w::Member m;
  m.path = "Work\\_____.wf6";  // what an ANSI field holds for unrepresentable characters
  m.data = "unicode";
  // "Ẑr.wf6" in UTF-16LE; the ANSI name cannot say Ẑ.
  m.faults.extensions.push_back(std::string("\x44\x90\x1E\x72\x00\x2E\x00\x77\x00\x66\x00\x36\x00", 13));
  w::WriteArchiveFile(dir.path() / "u.lzh", {m});
  EXPECT_EQ(0, ExtractMembers(dir.path() / "u.lzh", dir.folder(), Mode::BareName, {"Work\\Ẑr.wf6"}));
  EXPECT_EQ(ReadFile(dir.path() / "Ẑr.wf6"), "unicode");
}

TEST(LzhNames, StoredTraversalNamesNeverMatchAndNothingLeavesTheDestination) {
  TempDir dir;
  const fs::path out = dir.path() / "a/b";
  fs::create_directories(out);
  std::vector<w::Member> members;
  for (const char* name : {"..\\..\\Work\\ZrBunsyo.wf6", "..\\ZrTuBun.wf6", "Work\\..\\..\\ZrTuBun.wf6"}) {
    w::Member m;
    m.path = name;
    m.data = "evil";
    m.level = 0;
    members.push_back(m);
  }
  w::WriteArchiveFile(dir.path() / "t.lzh", members);
  const Tree before = Snapshot(dir.path());
  EXPECT_EQ(2, ExtractMembers(dir.path() / "t.lzh", out, Mode::KeepFolders, {kBunsyo, kTuBun}));
  EXPECT_EQ(before, Snapshot(dir.path()));
}

// ------------------------------------------------------ which copy, where

TEST(LzhExtract, LastOccurrenceOfANameWins) {
  TempDir dir;
  const w::Member first = w::MakeMember(kBunsyo, "first copy");
  const w::Member other = w::MakeMember(kComn, "common");
  const w::Member last = w::MakeMember("WORK/zrbunsyo.wf6", "last copy", 1, w::Method::Lh5);
  w::WriteArchiveFile(dir.path() / "dup.lzh", {first, other, last});
  EXPECT_EQ(0, ExtractMembers(dir.path() / "dup.lzh", dir.folder(), Mode::BareName, {kBunsyo}));
  EXPECT_EQ(ReadFile(dir.path() / "ZrBunsyo.wf6"), "last copy");
  EXPECT_TRUE(Leftovers(dir.path()).empty());
}

TEST(LzhExtract, MissingMemberWritesNothingAndCountsEveryMissingRequest) {
  TempDir dir;
  const fs::path out = dir.path() / "out";
  WriteFile(out / "Work/ZrBunsyo.wf6", "live data");
  const Tree before = Snapshot(out);
  EXPECT_EQ(1, ExtractMembers(FixturePath("lh6_h2.lzh"), out, Mode::KeepFolders, {kBunsyo, "Work\\Nothing.wf6"}));
  EXPECT_EQ(before, Snapshot(out));

  // Folders made on the way are taken back too.
  const fs::path empty = dir.path() / "empty";
  fs::create_directory(empty);
  EXPECT_EQ(3, ExtractMembers(FixturePath("lh6_h2.lzh"), empty, Mode::KeepFolders,
                              {kBunsyo, "New\\Nothing.wf6", "new/nothing.wf6", "Gone\\Deep\\x"}));
  EXPECT_TRUE(Snapshot(empty).empty());
}

TEST(LzhExtract, AnArchiveOfOnlyTheEndMarkHoldsNothing) {
  TempDir dir;
  WriteFile(dir.path() / "empty.lzh", std::string(1, '\0'));
  EXPECT_EQ(2, ExtractMembers(dir.path() / "empty.lzh", dir.folder(), Mode::BareName, {kComn, kBunsyo}));
  EXPECT_EQ(1u, Snapshot(dir.path()).size());
}

TEST(LzhExtract, ReplacesFilesKeepingTheirPermissionBits) {
  TempDir dir;
  WriteFile(dir.path() / "Work/ZrBunsyo.wf6", "old");
  WriteFile(dir.path() / "Work/ZrTuBun.wf6", "old");
  chmod((dir.path() / "Work/ZrBunsyo.wf6").c_str(), 0640);
  chmod((dir.path() / "Work/ZrTuBun.wf6").c_str(), 0444);
  EXPECT_EQ(0, ExtractMembers(FixturePath("lh7_h0.lzh"), dir.folder(), Mode::KeepFolders, {kBunsyo, kTuBun}));
  struct stat st {};
  stat((dir.path() / "Work/ZrBunsyo.wf6").c_str(), &st);
  EXPECT_EQ(0640u, st.st_mode & 07777);
  stat((dir.path() / "Work/ZrTuBun.wf6").c_str(), &st);
  EXPECT_EQ(0444u, st.st_mode & 07777);
  EXPECT_EQ(ReadFile(dir.path() / "Work/ZrTuBun.wf6"), FixtureContent("Work/ZrTuBun.wf6"));
}

TEST(LzhExtract, SymlinkAtTheTargetIsReplacedNeverWrittenThrough) {
  TempDir dir;
  WriteFile(dir.path() / "victim", "precious");
  fs::create_directory(dir.path() / "out");
  fs::create_symlink(dir.path() / "victim", dir.path() / "out/ZrXXComn.wf6");
  EXPECT_EQ(0, ExtractMembers(FixturePath("lh5_h0.lzh"), dir.path() / "out", Mode::BareName, {kComn}));
  EXPECT_FALSE(fs::is_symlink(dir.path() / "out/ZrXXComn.wf6"));
  EXPECT_EQ(ReadFile(dir.path() / "out/ZrXXComn.wf6"), FixtureContent("Data/ZrXXComn.wf6"));
  EXPECT_EQ(ReadFile(dir.path() / "victim"), "precious");
}

TEST(LzhExtract, SymlinkPlantedAtTheTemporaryPathIsNeverFollowed) {
  TempDir dir;
  WriteFile(dir.path() / "victim", "precious");
  fs::create_directory(dir.path() / "out");
  ScriptedOps ops;
  std::string planted;
  ops.before = [&](Op op, int, const char* name, int dirFd) {
    if (op == Op::OpenAt && planted.empty() && std::string(name).rfind(".zrtmp-", 0) == 0) {
      planted = name;
      ASSERT_EQ(0, symlinkat((dir.path() / "victim").c_str(), dirFd, name));
    }
  };
  {
    ScopedOps scoped(ops);
    EXPECT_EQ(0, ExtractMembers(FixturePath("lh5_h2.lzh"), dir.path() / "out", Mode::BareName, {kComn}));
  }
  ASSERT_FALSE(planted.empty());
  EXPECT_EQ(ReadFile(dir.path() / "victim"), "precious");
  EXPECT_TRUE(fs::is_symlink(dir.path() / "out" / planted));
  EXPECT_EQ(ReadFile(dir.path() / "out/ZrXXComn.wf6"), FixtureContent("Data/ZrXXComn.wf6"));
}

TEST(LzhExtract, AFolderWhereTheTargetShouldBeIsAnErrorNotAReplacement) {
  TempDir dir;
  fs::create_directories(dir.path() / "ZrXXComn.wf6/inside");
  EXPECT_EQ(rt::err::PathFileAccess, zr::test::ErrorOf([&] {
              ExtractMembers(FixturePath("lh5_h0.lzh"), dir.folder(), Mode::BareName, {kComn});
            }));
  EXPECT_TRUE(fs::is_directory(dir.path() / "ZrXXComn.wf6/inside"));
  EXPECT_TRUE(Leftovers(dir.path()).empty());
}

// --------------------------------------------------------------- arguments

TEST(LzhArguments, BadRequestsAndDestinationsAreRuntimeErrorsWritingNothing) {
  TempDir dir;
  const fs::path archive = FixturePath("lh5_h2.lzh");
  const std::vector<std::vector<std::string>> badLists = {
      {""},       {"\\Work\\ZrBunsyo.wf6"}, {"/Work/ZrBunsyo.wf6"}, {"Work\\..\\..\\x"}, {"..\\x"}, {"C:\\x.wf6"},
      {"Work\\"}, {kBunsyo, "Work/"},
  };
  for (const auto& list : badLists) {
    EXPECT_EQ(rt::err::InvalidProcedureCall,
              zr::test::ErrorOf([&] { ExtractMembers(archive, dir.folder(), Mode::KeepFolders, list); }))
        << list.back();
  }
  // Two members that would land on one file in mode 1.
  EXPECT_EQ(rt::err::InvalidProcedureCall, zr::test::ErrorOf([&] {
              ExtractMembers(archive, dir.folder(), Mode::BareName, {"Data\\A.wf6", "Work\\a.WF6"});
            }));
  for (const std::string& destination : {std::string(), std::string("relative/dir")}) {
    EXPECT_EQ(rt::err::InvalidProcedureCall,
              zr::test::ErrorOf([&] { ExtractMembers(archive, destination, Mode::BareName, {kComn}); }));
  }
  EXPECT_TRUE(Snapshot(dir.path()).empty());
}

TEST(LzhArguments, MissingDestinationAndMissingArchiveHaveTheirOwnNumbers) {
  TempDir dir;
  WriteFile(dir.path() / "file", "x");
  EXPECT_EQ(rt::err::PathNotFound, zr::test::ErrorOf([&] {
              ExtractMembers(FixturePath("lh5_h2.lzh"), (dir.path() / "nowhere").string(), Mode::BareName, {kComn});
            }));
  EXPECT_EQ(rt::err::PathNotFound, zr::test::ErrorOf([&] {
              ExtractMembers(FixturePath("lh5_h2.lzh"), (dir.path() / "file").string(), Mode::BareName, {kComn});
            }));
  const std::string missing = (dir.path() / "gone.lzh").string();
  const std::string text = ErrorTextOf([&] { ExtractMembers(missing, dir.folder(), Mode::BareName, {kComn}); });
  EXPECT_NE(std::string::npos, text.find(missing)) << "the description names the archive";
  EXPECT_EQ(rt::err::FileNotFound,
            zr::test::ErrorOf([&] { ExtractMembers(missing, dir.folder(), Mode::BareName, {kComn}); }));
  EXPECT_EQ(rt::err::PathFileAccess,
            zr::test::ErrorOf([&] { ExtractMembers(dir.path().string(), dir.folder(), Mode::BareName, {kComn}); }));
}

TEST(LzhArguments, NotAnLzhFileIsABadFormat) {
  TempDir dir;
  WriteFile(dir.path() / "text.lzh", "This is not an archive, only some text that is long enough.\n");
  WriteFile(dir.path() / "zero.lzh", "");
  fs::create_directory(dir.path() / "out");
  for (const char* name : {"text.lzh", "zero.lzh"}) {
    const std::string text =
        ErrorTextOf([&] { ExtractMembers(dir.path() / name, dir.path() / "out", Mode::BareName, {kComn}); });
    EXPECT_NE(std::string::npos, text.find(name)) << text;
    EXPECT_EQ(rt::err::BadFileFormat, zr::test::ErrorOf([&] {
                ExtractMembers(dir.path() / name, dir.path() / "out", Mode::BareName, {kComn});
              }));
  }
  EXPECT_TRUE(Snapshot(dir.path() / "out").empty());
}

TEST(LzhArguments, PermissionDeniedOnTheArchiveOrTheDestinationIs70) {
  TempDir dir;
  const fs::path archive = dir.path() / "private.lzh";
  fs::copy_file(FixturePath("lh5_h1.lzh"), archive);
  chmod(archive.c_str(), 0);
  const fs::path open = dir.path() / "open";
  fs::create_directory(open);
  const fs::path locked = dir.path() / "locked";
  WriteFile(locked / "Work/ZrBunsyo.wf6", "live");
  const Tree before = Snapshot(locked);
  chmod((locked / "Work").c_str(), 0555);
  {
    zr::test::WithoutFileAccessOverride unprivileged;
    EXPECT_EQ(rt::err::PermissionDenied,
              zr::test::ErrorOf([&] { ExtractMembers(archive, open, Mode::BareName, {kComn}); }));
    EXPECT_EQ(rt::err::PermissionDenied, zr::test::ErrorOf([&] {
                ExtractMembers(FixturePath("lh5_h1.lzh"), locked, Mode::KeepFolders, {kBunsyo, kTuBun});
              }));
  }
  chmod((locked / "Work").c_str(), 0755);
  EXPECT_EQ(before, Snapshot(locked));
}

// ------------------------------------------------------------- for reading

// Everything after the call that a name could say is taken from someone else:
// the folder is moved before it, each file's name swapped after it.
TEST(LzhForReading, WritesIntoTheOpenFolderAndHandsBackExactlyTheFilesItWrote) {
  TempDir dir;
  fs::create_directory(dir.path() / "mine");
  const int folder = ::open((dir.path() / "mine").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  fs::rename(dir.path() / "mine", dir.path() / "moved");
  fs::create_directory(dir.path() / "mine");
  const std::string shown = dir.folder() + "mine/";
  ExtractOptions ownerOnly;
  ownerOnly.ownerOnly = true;

  ExtractedFiles got = ExtractMembersForReading(FixturePath("lh5_h1.lzh"), folder, shown, Mode::KeepFolders,
                                                {kTuBun, kComn, "work/zrtubun.wf6"}, ownerOnly);
  EXPECT_EQ(got.missing, 0);
  ASSERT_EQ(got.files.size(), 2u);
  EXPECT_TRUE(fs::is_empty(dir.path() / "mine"));
  struct stat st {};
  ASSERT_EQ(::stat((dir.path() / "moved/Data/ZrXXComn.wf6").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  WriteFile(dir.path() / "planted", "planted");
  fs::rename(dir.path() / "planted", dir.path() / "moved/Data/ZrXXComn.wf6");
  fs::remove(dir.path() / "moved/Work/ZrTuBun.wf6");
  const std::vector<std::string> expected{FixtureContent("Work/ZrTuBun.wf6"), FixtureContent("Data/ZrXXComn.wf6")};
  for (std::size_t i = 0; i < got.files.size(); ++i) {
    const int fd = got.files[i].get();
    EXPECT_EQ(::write(fd, "x", 1), -1);  // for reading only
    std::string bytes(expected[i].size() + 1, '\0');
    bytes.resize(static_cast<std::size_t>(::pread(fd, bytes.data(), bytes.size(), 0)));
    EXPECT_EQ(bytes, expected[i]);
  }

  // A member the archive lacks: nothing written, nothing handed back.
  got = ExtractMembersForReading(FixturePath("lh5_h1.lzh"), folder, shown, Mode::BareName, {kBunsyo, "Data\none"});
  EXPECT_EQ(got.missing, 1);
  EXPECT_TRUE(got.files.empty());
  EXPECT_FALSE(fs::exists(dir.path() / "moved/ZrBunsyo.wf6"));
  ::close(folder);
}

// ----------------------------------------------------------------- waiting

TEST(LzhWaiting, DecodesOnAWorkerWhileTheCallerWaitsAndRethrowsItsErrors) {
  TempDir dir;
  std::thread::id decodingThread;
  ScriptedOps ops;
  ops.before = [&](Op op, int, const char*, int) {
    if (op == Op::Pread) decodingThread = std::this_thread::get_id();
  };
  int waits = 0;
  int polls = 0;
  rt::InteractionHooks hooks;
  hooks.waitUntil = [&](const std::function<bool()>& done) {
    ++waits;
    while (!done()) ++polls;
  };
  const rt::InteractionHooks previous = rt::InstallInteraction(hooks);
  const locale_t before = uselocale(static_cast<locale_t>(nullptr));
  {
    ScopedOps scoped(ops);
    EXPECT_EQ(0, ExtractMembersWaiting(FixturePath("jp_h2.lzh"), dir.folder(), Mode::BareName, {"Data\\表示.txt"}));
    EXPECT_EQ(1, ExtractMembersWaiting(FixturePath("jp_h2.lzh"), dir.folder(), Mode::BareName, {"Data\\none"}));
    const std::string missing = (dir.path() / "gone.lzh").string();
    EXPECT_EQ(rt::err::FileNotFound,
              zr::test::ErrorOf([&] { ExtractMembersWaiting(missing, dir.folder(), Mode::BareName, {kComn}); }));
  }
  rt::InstallInteraction(previous);
  EXPECT_EQ(ReadFile(dir.path() / "表示.txt"), "x\n");
  EXPECT_EQ(3, waits);
  EXPECT_GT(polls, 0);
  EXPECT_NE(std::thread::id(), decodingThread);
  EXPECT_NE(std::this_thread::get_id(), decodingThread);
  EXPECT_EQ(before, uselocale(static_cast<locale_t>(nullptr)));
}

}  // namespace
}  // namespace zr::lzh::test
