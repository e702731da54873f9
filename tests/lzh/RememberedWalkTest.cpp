// A walk kept from an earlier run spares the next run reading every header
// again, and is never more than a guess: a stale, forged or damaged one
// still restores the right bytes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/lzh/ArchiveIndex.h"
#include "platform/lzh/Extract.h"
#include "platform/lzh/RememberedWalks.h"
#include "platform/replace/RecordKey.h"
#include "platform/runtime/FileOps.h"
#include "tests/lzh/LzhTestSupport.h"
#include "tests/support/TempDir.h"
#include "tools/lzhwriter/LzhWriter.h"

namespace zr::lzh::test {
namespace {

namespace w = zr::lzh::writer;
using zr::test::ReadFile;
using zr::test::TempDir;
using zr::test::WriteFile;

constexpr int kOthers = 40;
const std::string kWanted = "Work/ZrBunsyo.wf6";

struct Store {
  TempDir dir;
  fs::path archive = dir.path() / "backup.lzh";
  fs::path walks = dir.path() / "home/walks";
  fs::path out = dir.path() / "out";

  Store() {
    fs::create_directories(dir.path() / "home");
    fs::create_directories(out);
    Write("the template");
  }
  void Write(const std::string& wanted) const {
    std::vector<w::Member> members;
    // Stored members too large for one read to bring the next header along:
    // a walk then reads once per member.
    for (int i = 0; i < kOthers; ++i) {
      members.push_back(w::MakeMember("Data/r" + std::to_string(i), std::string(12 * 1024, 'r')));
    }
    members.push_back(w::MakeMember(kWanted, wanted, 2, w::Method::Lh5));
    w::WriteArchiveFile(archive, members);
  }

  // One run of the program, in a process of its own (nothing of an earlier
  // run in memory): the member's header reads it made, or -1 when the
  // extraction failed.
  int Run() const {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
      close(pipeFds[0]);
      replace::InstallRecordKeyFile([this] { return dir.path() / "home/record.key"; });
      InstallWalkStore([this] { return walks; });
      ScriptedOps ops;
      int reads = -1;
      {
        ScopedOps scoped(ops);
        if (ExtractMembers(archive, out, Mode::BareName, {kWanted}) == 0) reads = ops.counts[Op::Pread];
      }
      (void)!write(pipeFds[1], &reads, sizeof reads);
      _exit(0);
    }
    close(pipeFds[1]);
    int reads = -1;
    if (read(pipeFds[0], &reads, sizeof reads) != sizeof reads) reads = -1;
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return reads;
  }
  fs::path Kept() const {
    for (const auto& e : fs::directory_iterator(walks)) {
      if (e.path().filename().string().rfind("walk-", 0) == 0) return e.path();
    }
    return {};
  }
};

TEST(RememberedWalk, TheNextRunReadsOnlyWhatItRestores) {
  Store s;
  const int first = s.Run();
  EXPECT_GT(first, kOthers) << "the first run walks every header";
  ASSERT_FALSE(s.Kept().empty());
  const int second = s.Run();
  EXPECT_GE(second, 1);
  EXPECT_LT(second, 10) << "no header but the wanted one's is read again";
  EXPECT_EQ("the template", ReadFile(s.out / "ZrBunsyo.wf6"));

  // A changed archive is walked again, and its new walk kept in place of the old.
  s.Write("a newer template, longer");
  EXPECT_GT(s.Run(), kOthers);
  EXPECT_EQ("a newer template, longer", ReadFile(s.out / "ZrBunsyo.wf6"));
  EXPECT_LT(s.Run(), 10);
  EXPECT_EQ(1, std::distance(fs::directory_iterator(s.walks), fs::directory_iterator()));
}

TEST(RememberedWalk, AKeptWalkThatLiesIsWalkedPastAndReplaced) {
  Store s;
  ASSERT_GT(s.Run(), kOthers);
  const fs::path kept = s.Kept();
  const std::string genuine = ReadFile(kept);

  // Damaged, or sealed under another key: not believed.
  for (const std::size_t at : {std::size_t{12}, genuine.size() - 70, genuine.size() - 1}) {
    std::string damaged = genuine;
    damaged[at] = static_cast<char>(damaged[at] ^ 1);
    WriteFile(kept, damaged);
    EXPECT_GT(s.Run(), kOthers) << "a byte changed at " << at;
    EXPECT_TRUE(genuine == ReadFile(kept)) << "walked again and kept anew";
  }

  // Sealed with the right key but pointing at the wrong member (the first
  // record): every header it names is read and compared, so the walk is
  // done again and the right member restored.
  const std::string body = genuine.substr(0, genuine.size() - 64);
  // Entries are 25 bytes (position, fingerprint, name key, flag), the
  // wanted member's last; the first starts after the identity and count.
  std::string lying = body;
  const std::size_t firstEntry = std::string("zr-walk 1\n").size() + 8 * 8;
  lying.replace(body.size() - 25, 16, body.substr(firstEntry, 16));
  const std::string key = ReadFile(s.dir.path() / "home/record.key");
  replace::RecordKey k{};
  std::copy(key.begin(), key.end(), k.begin());
  WriteFile(kept, lying + replace::Authenticator(k, lying));
  fs::remove(s.out / "ZrBunsyo.wf6");
  EXPECT_GT(s.Run(), kOthers);
  EXPECT_EQ("the template", ReadFile(s.out / "ZrBunsyo.wf6"));
  EXPECT_TRUE(genuine == ReadFile(kept));
}

}  // namespace
}  // namespace zr::lzh::test
