// The check of every member: it must find each fault an extraction finds,
// in the same words, while it decodes and reads its own way.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "platform/lzh/Extract.h"
#include "platform/lzh/MemberCheck.h"
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

// A stored member is read by the check itself: a file that ends early is
// damage to that member, a failing read an error of the whole check.
TEST(LzhMemberCheck, StoredDataThatCannotBeReadIsReportedAsAnExtractionWould) {
  TempDir dir;
  const fs::path archive = dir.path() / "a.lzh";
  const std::string data = Text(100000, 4);
  const std::string bytes = w::BuildArchive({w::MakeMember(kTuBun, data, 2)});
  WriteFile(archive, bytes);

  // Reads: the walk's two (the header and the end mark), the header again,
  // then the data block by block; the file loses its tail before the second block.
  ScriptedOps shrink;
  shrink.before = [&](Op op, int index, const char*, int) {
    if (op == Op::Pread && index == 4) {
      ASSERT_EQ(truncate(archive.c_str(), 300000), 0);
    }
  };
  {
    ScopedOps scoped(shrink);
    const ArchiveCheck check = CheckEveryMember(archive);
    ASSERT_EQ(check.members.size(), 1u);
    EXPECT_NE(check.members[0].damage.value_or("").find("途中で切れて"), std::string::npos);
  }

  WriteFile(archive, bytes);
  ScriptedOps failing;
  failing.FailAt(Op::Pread, 3, EIO);
  ScopedOps scoped(failing);
  std::string description;
  EXPECT_EQ(zr::test::ErrorOf([&] { CheckEveryMember(archive); }, &description), rt::err::PathFileAccess);
  EXPECT_NE(description.find("読み込めません: " + archive.string()), std::string::npos) << description;
}

}  // namespace
}  // namespace zr::lzh::test
