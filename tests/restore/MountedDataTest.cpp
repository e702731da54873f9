// The data folder on a real exFAT or NTFS disk mounted through FUSE, as an
// office hands it to the tool: every file shows mode 0777 and belongs to
// whoever mounted it, inode numbers are the file system's own, exFAT has no
// hard links. A crash at any change still leaves a whole pair and a history
// that agrees with it, and a record the program cannot prove its own
// reaches nothing. Mounting needs root, /dev/fuse and a loop device, which
// the project's machines have; without them these tests fail, never skip.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/replace/IntentRecord.h"
#include "platform/replace/Journal.h"
#include "platform/replace/RecordKey.h"
#include "platform/runtime/RuntimeError.h"
#include "restore/History.h"
#include "suite/Templates.h"
#include "suite/local/DataFolderRecovery.h"
#include "tests/restore/KillEverywhere.h"
#include "tests/restore/RealSuite.h"
#include "tests/support/TempDir.h"
#include "tools/demo/DemoBackups.h"

namespace zr::test {
namespace {

namespace fs = std::filesystem;

std::string Run(const std::string& command) {
  std::string out;
  if (FILE* p = popen((command + " 2>&1").c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, p) != nullptr) out += buffer;
    if (pclose(p) != 0) out = "failed: " + command + "\n" + out;
  }
  return out;
}

// A disk image of `kind` mounted through FUSE at `at` for the object's life.
class FuseMount {
 public:
  FuseMount(const std::string& kind, const fs::path& at) : at_(at) {
    const fs::path image = images_.path() / "disk.img";
    fs::create_directories(at);
    std::ofstream(image).close();
    fs::resize_file(image, 64u << 20);
    const std::string format = kind == "exfat" ? "mkfs.exfat " : "mkntfs -F -Q -q ";
    problem_ = Run(format + image.string());
    if (problem_.starts_with("failed")) return;
    loop_ = Run("losetup -f --show " + image.string());
    if (loop_.starts_with("failed") || loop_.empty()) {
      problem_ = loop_;
      loop_.clear();
      return;
    }
    loop_.pop_back();
    const std::string mount = kind == "exfat" ? "mount.exfat-fuse " : "ntfs-3g ";
    problem_ = Run(mount + loop_ + " " + at.string());
    mounted_ = !problem_.starts_with("failed");
    struct statfs st {};
    if (mounted_ && (statfs(at.c_str(), &st) != 0 || st.f_type != 0x65735546)) problem_ = "not a FUSE mount";
  }
  ~FuseMount() {
    if (mounted_) Run("umount " + at_.string());
    if (!loop_.empty()) Run("losetup -d " + loop_);
  }
  FuseMount(const FuseMount&) = delete;
  FuseMount& operator=(const FuseMount&) = delete;

  // Why the disk could not be mounted; empty once it is.
  std::string Problem() const { return mounted_ && !problem_.starts_with("failed") ? "" : problem_; }

 private:
  TempDir images_;
  fs::path at_;
  std::string loop_;
  std::string problem_;
  bool mounted_ = false;
};

class MountedDataTest : public ::testing::TestWithParam<const char*> {
 protected:
  MountedDataTest() : mount(GetParam(), suite.data()) {}

  void SetUp() override {
    ASSERT_EQ(0u, geteuid()) << "mounting a disk image needs root, as the project's machines run the tests";
    ASSERT_EQ("", mount.Problem());
    demo::WriteLiveTemplates(suite.data());
    suite::InstallRecoveryLog();
  }

  void TearDown() override { replace::InstallRecoveryNotes(nullptr); }

  RealSuite suite;
  FuseMount mount;
};

TEST_P(MountedDataTest, KilledAtEveryChangeTheNextStartLeavesAWholePairAndAHistoryThatAgrees) {
  struct stat st {};
  ASSERT_EQ(0, stat((suite.data() / "Work/ZrBunsyo.wf6").c_str(), &st));
  EXPECT_EQ(0777u, st.st_mode & 0777u) << "the disk shows made-up modes";
  const KillCounts counts = KillAtEveryChange(suite, false);
  std::printf("%s: killed at %d changes of a restore and %d of an undo\n", GetParam(), counts.restores, counts.undos);
  EXPECT_GT(counts.restores, 10);
  EXPECT_GT(counts.undos, 10);
}

TEST_P(MountedDataTest, ARecordNotProvablyOursReachesNothingOfTheUsers) {
  // A committed entry the record claims, and a template it claims it placed
  // where there was none: acted on, recovery would delete both.
  RestoreDemo(suite, "earlier");
  const auto entries = restore::ListHistory(suite.history());
  ASSERT_EQ(1u, entries.size());
  const std::string token = entries.front().folder.filename().string();
  const std::string pair = LivePair(suite);
  struct stat st {};
  ASSERT_EQ(0, stat((suite.data() / "Work/ZrTuBun.wf6").c_str(), &st));
  replace::Intent intent;
  intent.token = token;
  intent.entries.push_back(
      {suite::TemplateTargets()[1], ".zrtmp-0123456789ab", "", std::nullopt, replace::FileIdentity::Of(st)});
  replace::RecordKey strangers{};
  strangers.fill(0x5a);
  const std::string name = ".zrplan-0123456789ab";
  const std::string sealed = replace::EncodeIntent(intent, strangers, name);
  std::string forged = sealed;
  forged.replace(forged.rfind("mac ") + 4, 8, "00000000");
  for (const std::string& bytes : {sealed, forged, std::string("zr-replace 2\nj\t") + token + "\n"}) {
    WriteFile(suite.data() / name, bytes);
    suite::RecoverDataFolder();
    EXPECT_EQ(pair, LivePair(suite));
    ASSERT_EQ(1u, restore::ListHistory(suite.history()).size()) << "the history is not reached";
    EXPECT_EQ(token, restore::ListHistory(suite.history()).front().folder.filename().string());
    EXPECT_TRUE(fs::exists(suite.data() / name)) << "it stays for a person to look at";
    try {
      RestoreDemo(suite, "later");
      ADD_FAILURE() << "a restore was built over somebody's unfinished change";
    } catch (const rt::RuntimeError& e) {
      EXPECT_NE(std::string::npos, e.description().find(name)) << e.description();
    }
    EXPECT_EQ(pair, LivePair(suite));
    fs::remove(suite.data() / name);
  }
  EXPECT_NE(std::string::npos, suite.ErrorLog().find(name));
}

INSTANTIATE_TEST_SUITE_P(FileSystems, MountedDataTest, ::testing::Values("exfat", "ntfs"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace zr::test
