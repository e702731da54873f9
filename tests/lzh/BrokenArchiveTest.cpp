// Damaged and hostile archives: each is refused as a run-time error, the
// live targets stay byte for byte as they were, and no temporary file
// survives.
#include <gtest/gtest.h>

#include "platform/lzh/Extract.h"
#include "platform/runtime/RuntimeError.h"
#include "tests/lzh/LzhTestSupport.h"
#include "tests/support/TempDir.h"
#include "tools/lzhwriter/LzhWriter.h"

namespace zr::lzh::test {
namespace {

namespace w = zr::lzh::writer;
using zr::test::TempDir;
using zr::test::WriteFile;

const std::string kBunsyo = "Work\\ZrBunsyo.wf6";
const std::string kTuBun = "Work\\ZrTuBun.wf6";

std::string Text(std::size_t words, unsigned offset) {
  std::string s;
  for (std::size_t i = 0; i < words; ++i) s += "word" + std::to_string((i * 7919 + offset) % 97) + " ";
  return s;
}

w::Member Good(int level = 2) { return w::MakeMember(kBunsyo, Text(3000, 1), level, w::Method::Lh5); }
w::Member Wanted(int level, w::Method method = w::Method::Lh0) {
  return w::MakeMember(kTuBun, Text(2000, 2), level, method);
}

struct Case {
  std::string label;
  std::function<std::string()> archive;
  std::string mentions;  // a word the description must carry besides the archive's path
};

Case Faulty(std::string label, int level, w::Method method, const std::function<void(w::Faults&)>& fault,
            std::string mentions = "") {
  return {std::move(label),
          [=] {
            w::Member m = Wanted(level, method);
            fault(m.faults);
            return w::BuildArchive({Good(), m});
          },
          std::move(mentions)};
}

std::vector<Case> Cases() {
  std::vector<Case> c;
  c.push_back(Faulty("header_sum_h0", 0, w::Method::Lh0, [](w::Faults& f) { f.headerSum = true; }));
  c.push_back(Faulty("header_sum_h1", 1, w::Method::Lh5, [](w::Faults& f) { f.headerSum = true; }));
  c.push_back(Faulty("header_crc_h1", 1, w::Method::Lh0, [](w::Faults& f) { f.headerCrc = true; }));
  c.push_back(Faulty("header_crc_h2", 2, w::Method::Lh0, [](w::Faults& f) { f.headerCrc = true; }));
  c.push_back(Faulty("header_crc_h3", 3, w::Method::Lh0, [](w::Faults& f) { f.headerCrc = true; }));
  c.push_back(Faulty("no_header_crc_h2", 2, w::Method::Lh0, [](w::Faults& f) { f.omitHeaderCrc = true; }));
  c.push_back(Faulty(
      "data_crc_h0_lh0", 0, w::Method::Lh0, [](w::Faults& f) { f.dataCrc = true; }, "ZrTuBun"));
  c.push_back(Faulty(
      "data_crc_h1_lh5", 1, w::Method::Lh5, [](w::Faults& f) { f.dataCrc = true; }, "CRC"));
  c.push_back(Faulty(
      "data_crc_h2_lh7", 2, w::Method::Lh7, [](w::Faults& f) { f.dataCrc = true; }, "CRC"));
  const int64_t size = static_cast<int64_t>(Wanted(0).data.size());
  c.push_back(Faulty("declared_larger_lh0", 2, w::Method::Lh0, [=](w::Faults& f) { f.originalSize = size + 10; }));
  c.push_back(Faulty("declared_larger_lh5", 1, w::Method::Lh5, [=](w::Faults& f) { f.originalSize = size + 1; }));
  c.push_back(Faulty("declared_smaller_lh0", 0, w::Method::Lh0, [=](w::Faults& f) { f.originalSize = size - 10; }));
  c.push_back(Faulty(
      "declared_smaller_lh6", 2, w::Method::Lh6, [=](w::Faults& f) { f.originalSize = size / 2; }, "超えて"));
  c.push_back(Faulty("packed_beyond_file", 2, w::Method::Lh5, [](w::Faults& f) { f.packedSize = 1 << 20; }));
  c.push_back(Faulty("negative_size64", 2, w::Method::Lh0, [](w::Faults& f) {
    f.size64 = true;
    f.originalSize = -256;
  }));
  c.push_back(Faulty("negative_packed64", 1, w::Method::Lh0, [](w::Faults& f) {
    f.size64 = true;
    f.packedSize = -1;
  }));
  c.push_back(Faulty("absurd_size64", 2, w::Method::Lh0, [](w::Faults& f) {
    f.size64 = true;
    f.originalSize = int64_t{1} << 40;
  }));
  c.push_back(Faulty(
      "unsupported_method", 2, w::Method::Lh0, [](w::Faults& f) { f.methodId = "-lh1-"; }, "-lh1-"));
  c.push_back(Faulty("unknown_method", 1, w::Method::Lh0, [](w::Faults& f) { f.methodId = "-lhx-"; }));
  c.push_back(Faulty("attribute_not_0x20", 2, w::Method::Lh0, [](w::Faults& f) { f.attribute = 0x10; }));
  c.push_back(Faulty("dir_without_ff", 2, w::Method::Lh0, [](w::Faults& f) { f.rawDir = "Work"; }));
  c.push_back(Faulty("empty_name_ext", 2, w::Method::Lh0, [](w::Faults& f) { f.rawName = std::string("\0x", 2); }));
  c.push_back(Faulty(
      "huge_level3_header", 3, w::Method::Lh0, [](w::Faults& f) { f.headerSize = 1u << 30; }, "大きすぎ"));
  c.push_back(Faulty("huge_level1_chain", 1, w::Method::Lh0, [](w::Faults& f) {
    f.extensions = {"\x3F" + std::string(40000, 'c'), "\x3F" + std::string(40000, 'c')};
  }));
  c.push_back({"corrupt_lh5_stream",
               [] {
                 w::Member m = Wanted(2, w::Method::Lh5);
                 std::string bytes = w::EncodeMember(m);
                 const std::size_t dataStart = bytes.size() - w::Compress(m.data, w::Method::Lh5).size();
                 bytes[dataStart + 3] = static_cast<char>(bytes[dataStart + 3] ^ 0x5A);
                 return w::BuildArchive({Good()}, false) + bytes + std::string(1, '\0');
               },
               ""});
  c.push_back({"truncated_in_header",
               [] { return w::BuildArchive({Good()}, false) + w::EncodeMember(Wanted(2)).substr(0, 15); }, ""});
  c.push_back({"truncated_in_data",
               [] {
                 const std::string m = w::EncodeMember(Wanted(1, w::Method::Lh5));
                 return w::BuildArchive({Good()}, false) + m.substr(0, m.size() - 10);
               },
               ""});
  c.push_back({"garbage_after_members",
               [] {
                 return w::BuildArchive({Good(), Wanted(0)}, false) + "GARBAGE, not a member header at all";
               },
               ""});
  c.push_back({"huge_level3_header_first",
               [] {
                 w::Member m = Wanted(3);
                 m.faults.headerSize = 0xFFFFFFF0u;
                 return w::BuildArchive({m, Good()});
               },
               ""});
  return c;
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

class BrokenArchive : public ::testing::TestWithParam<Case> {};

TEST_P(BrokenArchive, IsRefusedAndLeavesTheTargetsAsTheyWere) {
  TempDir dir;
  const fs::path archive = dir.path() / "backup.lzh";
  WriteFile(archive, GetParam().archive());
  const fs::path out = dir.path() / "data";
  WriteFile(out / "Work/ZrBunsyo.wf6", "live bunsyo");
  WriteFile(out / "Work/ZrTuBun.wf6", "live tubun");
  const Tree before = Snapshot(out);
  for (Mode mode : {Mode::KeepFolders, Mode::BareName}) {
    const fs::path destination = mode == Mode::KeepFolders ? out : out / "Work";
    try {
      ExtractMembers(archive, destination, mode, {kBunsyo, kTuBun});
      ADD_FAILURE() << "extraction succeeded";
    } catch (const rt::RuntimeError& e) {
      EXPECT_EQ(rt::err::BadFileFormat, e.number()) << e.description();
      EXPECT_NE(std::string::npos, e.description().find(archive.string())) << e.description();
      EXPECT_NE(std::string::npos, e.description().find(GetParam().mentions)) << e.description();
    }
    EXPECT_EQ(before, Snapshot(out));
    EXPECT_TRUE(Leftovers(out).empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Lzh, BrokenArchive, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.label; });

TEST(LzhHostile, DamageInAMemberNobodyAskedForStillStopsTheHeaderWalk) {
  TempDir dir;
  w::Member other = w::MakeMember("Data\\Other.wf6", "other", 1);
  other.faults.headerSum = true;
  WriteFile(dir.path() / "a.lzh", w::BuildArchive({Good(), other, Wanted(2)}));
  EXPECT_THROW(ExtractMembers(dir.path() / "a.lzh", dir.folder(), Mode::BareName, {kBunsyo}), rt::RuntimeError);
  EXPECT_TRUE(Leftovers(dir.path()).empty());
}

TEST(LzhHostile, BadDataInAMemberNobodyAskedForIsNeverDecoded) {
  TempDir dir;
  w::Member other = w::MakeMember("Data\\Other.wf6", Text(500, 3), 2, w::Method::Lh5);
  other.faults.dataCrc = true;
  WriteFile(dir.path() / "a.lzh", w::BuildArchive({other, Good(), Wanted(1)}));
  EXPECT_EQ(0, ExtractMembers(dir.path() / "a.lzh", dir.folder(), Mode::BareName, {kBunsyo, kTuBun}));
}

TEST(LzhHostile, ALevel2SizeEndingInZeroWithoutPaddingReadsAsTheEndMark) {
  TempDir dir;
  // A name long enough that the header size is exactly 0x100.
  w::Member m = Wanted(2);
  m.faults.noPadding = true;
  for (std::size_t n = 1; n < 300; ++n) {
    m.path = "Work\\" + std::string(n, 'n') + ".wf6";
    if (w::EncodeMember(m)[0] == '\0') break;
  }
  const std::string member = w::EncodeMember(m);
  ASSERT_EQ(0, static_cast<unsigned char>(member[0])) << "the header size must end in a zero byte";
  WriteFile(dir.path() / "a.lzh", w::BuildArchive({Good()}, false) + member + w::EncodeMember(Wanted(1)) + '\0');
  fs::create_directory(dir.path() / "out");
  EXPECT_EQ(1, ExtractMembers(dir.path() / "a.lzh", dir.path() / "out", Mode::BareName, {kBunsyo, kTuBun}));
  EXPECT_TRUE(Snapshot(dir.path() / "out").empty());
  m.faults.noPadding = false;
  WriteFile(dir.path() / "b.lzh", w::BuildArchive({Good(), m}));
  EXPECT_EQ(0, ExtractMembers(dir.path() / "b.lzh", dir.path() / "out", Mode::BareName, {kBunsyo, m.path}));
}

}  // namespace
}  // namespace zr::lzh::test
