// The check of every member: it must find each fault an extraction finds,
// in the same words, while it decodes and reads its own way.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "platform/lzh/Extract.h"
#include "platform/lzh/MemberCheck.h"
#include "platform/runtime/FileOps.h"
#include "platform/runtime/RuntimeError.h"
#include "tests/lzh/LzhTestSupport.h"
#include "tests/support/ErrorOf.h"
#include "tests/support/TempDir.h"
#include "tools/lzhwriter/LzhWriter.h"

namespace zr::lzh::test {
namespace {

namespace w = zr::lzh::writer;
using zr::test::TempDir;
using zr::test::WriteFile;

const std::string kTuBun = "Work\\ZrTuBun.wf6";

std::string Text(std::size_t words, unsigned offset) {
  std::string s;
  for (std::size_t i = 0; i < words; ++i) s += "word" + std::to_string((i * 7919 + offset) % 97) + " ";
  return s;
}

struct Fault {
  const char* label;
  std::function<void(w::Faults&, std::size_t size)> apply;
  const char* reason;  // part of the damage text; empty for none
};

const Fault kFaults[] = {
    {"none", [](w::Faults&, std::size_t) {}, ""},
    {"data CRC", [](w::Faults& f, std::size_t) { f.dataCrc = true; }, "CRC"},
    {"declared larger", [](w::Faults& f, std::size_t size) { f.originalSize = size + 1; }, "長さ"},
    {"declared smaller", [](w::Faults& f, std::size_t size) { f.originalSize = size - 1; }, "超えて"},
};

struct Packing {
  const char* label;
  w::Method method;
  const char* id;  // replaces the method's own id when set
  int topLevel;    // the highest header level that carries it
};

const Packing kPackings[] = {{"-lh0-", w::Method::Lh0, nullptr, 3},
                             {"-lz4-", w::Method::Lh0, "-lz4-", 0},
                             {"-lh5-", w::Method::Lh5, nullptr, 3},
                             {"-lh6-", w::Method::Lh6, nullptr, 3},
                             {"-lh7-", w::Method::Lh7, nullptr, 3}};

// Good members on either side of the one under test, so a fault stays with its own member.
std::string ArchiveAround(const w::Member& tested) {
  return w::BuildArchive({w::MakeMember("Data\\Before.wf6", Text(3000, 1), 2, w::Method::Lh5), tested,
                          w::MakeMember("Data\\After.wf6", Text(500, 3), 1)});
}

TEST(LzhMemberCheck, FindsEachDataFaultAsTheExtractionWordsIt) {
  TempDir dir;
  const fs::path archive = dir.path() / "a.lzh";
  fs::create_directory(dir.path() / "out");
  // Stored data several read blocks long, so a fault is found across blocks.
  const std::string data = Text(50000, 2);
  for (int level = 0; level <= 3; ++level) {
    for (const Packing& packing : kPackings) {
      if (level > packing.topLevel) continue;
      for (const Fault& fault : kFaults) {
        SCOPED_TRACE(std::string("level ") + std::to_string(level) + " " + packing.label + " " + fault.label);
        w::Member m = w::MakeMember(kTuBun, data, level, packing.method);
        if (packing.id) m.faults.methodId = packing.id;
        fault.apply(m.faults, data.size());
        WriteFile(archive, ArchiveAround(m));

        std::string extracted;
        zr::test::ErrorOf([&] { ExtractMembers(archive, dir.path() / "out", Mode::BareName, {kTuBun}); }, &extracted);
        const ArchiveCheck check = CheckEveryMember(archive);
        ASSERT_EQ(check.members.size(), 3u);
        EXPECT_FALSE(check.members[0].damage.has_value());
        EXPECT_FALSE(check.members[2].damage.has_value());
        const MemberCheck& tested = check.members[1];
        EXPECT_EQ(tested.name, kTuBun);
        EXPECT_EQ(tested.damage.value_or(""), extracted);
        if (*fault.reason == '\0') {
          EXPECT_FALSE(tested.damage.has_value()) << *tested.damage;
        } else {
          EXPECT_NE(tested.damage.value_or("").find(fault.reason), std::string::npos) << tested.damage.value_or("");
        }
      }
    }
  }
}

// Reads of the archive that start between `from` and `to` fail with
// `errnum`, or find the file ending there when it is 0, whichever thread
// makes them; the header walk reads none of them.
class BadStretch : public rt::FileOps {
 public:
  BadStretch(uint64_t from, uint64_t to, int errnum) : from_(from), to_(to), errnum_(errnum) {}
  ssize_t Pread(int fd, void* buffer, std::size_t count, off_t offset) override {
    if (static_cast<uint64_t>(offset) < from_ || static_cast<uint64_t>(offset) >= to_) {
      return FileOps::Pread(fd, buffer, count, offset);
    }
    if (errnum_ == 0) return 0;
    errno = errnum_;
    return -1;
  }

 private:
  uint64_t from_, to_;
  int errnum_;
};

// Where a member's data lies in an archive that begins with it.
std::pair<uint64_t, uint64_t> DataOf(const w::Member& m) {
  const std::string bytes = w::EncodeMember(m);
  return {bytes.size() - m.data.size(), bytes.size()};
}

// A stored member is read by the check itself: a file that ends early is
// damage to that member, a failing read an error of the whole check.
TEST(LzhMemberCheck, StoredDataThatCannotBeReadIsReportedAsAnExtractionWould) {
  TempDir dir;
  const fs::path archive = dir.path() / "a.lzh";
  const w::Member stored = w::MakeMember(kTuBun, Text(100000, 4), 2);
  WriteFile(archive, w::BuildArchive({stored}));
  const auto [start, end] = DataOf(stored);
  {
    // Past the first block of reading.
    BadStretch shrunk(start + 1, end, 0);
    ScopedOps scoped(shrunk);
    const ArchiveCheck check = CheckEveryMember(archive);
    ASSERT_EQ(check.members.size(), 1u);
    EXPECT_NE(check.members[0].damage.value_or("").find("途中で切れて"), std::string::npos);
  }
  BadStretch failing(start, end, EIO);
  ScopedOps scoped(failing);
  std::string description;
  EXPECT_EQ(zr::test::ErrorOf([&] { CheckEveryMember(archive); }, &description), rt::err::PathFileAccess);
  EXPECT_NE(description.find("読み込めません: " + archive.string()), std::string::npos) << description;
}

// Members are checked while the walk goes on; what it finds further on still decides.
TEST(LzhMemberCheck, ADamagedHeaderFailsTheCheckEvenAfterAMemberThatCouldNotBeRead) {
  TempDir dir;
  const fs::path archive = dir.path() / "a.lzh";
  const w::Member first = w::MakeMember("Data\\First.wf6", Text(20000, 5), 2);
  w::Member damaged = w::MakeMember(kTuBun, "t", 2);
  damaged.faults.headerCrc = true;
  // Enough members between for the first one's reading to fail well before the walk gets there.
  std::vector<w::Member> members{first};
  for (int i = 0; i < 500; ++i) members.push_back(w::MakeMember("Data\\" + std::to_string(i) + ".wf6", "x", 1));
  members.push_back(damaged);
  WriteFile(archive, w::BuildArchive(members));
  const auto [start, end] = DataOf(first);
  BadStretch failing(start, end, EIO);
  ScopedOps scoped(failing);
  std::string description;
  EXPECT_EQ(zr::test::ErrorOf([&] { CheckEveryMember(archive); }, &description), rt::err::BadFileFormat);
  EXPECT_NE(description.find("ヘッダーのCRC"), std::string::npos) << description;
}

}  // namespace
}  // namespace zr::lzh::test
