// The backup check and every extraction decode compressed members with our
// own decoder: every stream, sound or damaged, must come out of it as out of
// libarchive, down to the data handed out before the damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "fuzz/lzh/ExtractFuzz.h"
#include "platform/runtime/FileOps.h"
#include "tests/lzh/LzhTestSupport.h"
#include "tests/support/TempDir.h"
#include "tools/lzhwriter/LzhWriter.h"

namespace zr::lzh::test {
namespace {

namespace w = zr::lzh::writer;
using zr::test::TempDir;
using zr::test::WriteFile;

constexpr w::Method kMethods[] = {w::Method::Lh5, w::Method::Lh6, w::Method::Lh7};

std::string Noise(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

std::string Text(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string s;
  while (s.size() < size) s += "word" + std::to_string(random() % 300) + (random() % 7 ? " " : "\r\n");
  return s.substr(0, size);
}

// Every member of the archive `bytes`, decoded both ways, which must agree.
std::vector<fuzz::TwoDecodings> ExpectAgreement(const std::string& bytes) {
  TempDir dir;
  const fs::path archive = dir.path() / "a.lzh";
  WriteFile(archive, bytes);
  std::vector<fuzz::TwoDecodings> decodings = fuzz::DecodeBothWays(archive.string());
  for (std::size_t i = 0; i < decodings.size(); ++i) {
    const fuzz::TwoDecodings& two = decodings[i];
    SCOPED_TRACE("member " + std::to_string(i));
    EXPECT_EQ(two.oursDamage, two.theirsDamage);
    EXPECT_TRUE(two.Agree()) << "data differs: " << two.ours.size() << " bytes against " << two.theirs.size() << " "
                             << two.oursDamage;
  }
  return decodings;
}

// The kinds of damage libarchive found, "" for none.
std::set<std::string> Damages(const std::vector<fuzz::TwoDecodings>& decodings) {
  std::set<std::string> kinds;
  for (const fuzz::TwoDecodings& two : decodings) kinds.insert(two.theirsDamage);
  return kinds;
}

// A member whose packed bytes are `packed` as given, declaring `original` bytes.
w::Member Packed(const std::string& packed, w::Method method, std::size_t original, int level = 2) {
  w::Member m = w::MakeMember("Data\\P.wf6", packed, level);
  m.faults.methodId = w::MethodId(method);
  m.faults.originalSize = static_cast<int64_t>(original);
  return m;
}

// Real archives from other tools too: the streams their encoders chose.
TEST(LhDecoder, DecodesTheFixturesTheFuzzingCorpusAndRealArchivesAsLibarchiveDoes) {
  const fs::path source(ZR_SOURCE_DIR);
  int members = 0;
  for (const fs::path& folder :
       {source / "tests/lzh/fixtures", source / "fuzz/lzh/corpus", fs::path(ZR_THIRD_PARTY_DATA) / "lzh-real"}) {
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      if (!entry.is_regular_file() || entry.path().filename() == "README.md") continue;
      SCOPED_TRACE(entry.path().string());
      members += static_cast<int>(ExpectAgreement(zr::test::ReadFile(entry.path())).size());
    }
  }
  EXPECT_GE(members, 60);
}

TEST(LhDecoder, DecodesWriterArchivesOfEveryMethodAsLibarchiveDoes) {
  const std::string far = Noise(40000, 1);  // matches at the far end of the 32 and 64 KiB windows
  const std::string samples[] = {"",
                                 "x",
                                 std::string(200000, '\0'),
                                 std::string(70000, 'a') + "ab",
                                 Text(300000, 2),
                                 Noise(300000, 3),  // packed over several read blocks
                                 far + far,
                                 Text(131072, 4),  // ends exactly on an output block
                                 Text(131072 * 2 + 1, 5) + Noise(1000, 6)};
  for (w::Method method : kMethods) {
    SCOPED_TRACE(w::MethodId(method));
    std::vector<w::Member> members;
    int level = 0;
    for (const std::string& data : samples) members.push_back(w::MakeMember("Data\\S.wf6", data, level++ % 3, method));
    const auto decodings = ExpectAgreement(w::BuildArchive(members));
    EXPECT_EQ(decodings.size(), std::size(samples));
    EXPECT_EQ(Damages(decodings), std::set<std::string>{""});
  }
}

// Streams built bit by bit: single-symbol codes, which take no bits, a
// match into the initial window, padding after the last block.
TEST(LhDecoder, DecodesSingleSymbolCodesAsLibarchiveDoes) {
  struct Bits {
    std::string bytes;
    int used = 0;
    void Put(uint32_t value, int count) {
      for (int i = count - 1; i >= 0; --i) {
        if (used % 8 == 0) bytes += '\0';
        if ((value >> i) & 1) bytes.back() = static_cast<char>(bytes.back() | (0x80 >> (used % 8)));
        ++used;
      }
    }
  };
  for (w::Method method : kMethods) {
    SCOPED_TRACE(w::MethodId(method));
    const int positionBits = method == w::Method::Lh5 ? 4 : 5;
    const auto header = [&](Bits& b, unsigned symbols, unsigned literal, unsigned position) {
      b.Put(symbols, 16);
      b.Put(0, 5), b.Put(0, 5), b.Put(0, 9), b.Put(literal, 9), b.Put(0, positionBits), b.Put(position, positionBits);
    };
    // Three matches of 13 from the spaces a window starts with, at distances
    // over 4096, then 1000 times 'A' in a block of no bits.
    Bits s;
    header(s, 3, 256 + 10, 13);
    s.Put(0, 12), s.Put(1, 12), s.Put(5, 12);
    header(s, 1000, 'A', 0);
    const std::string expected = std::string(39, ' ') + std::string(1000, 'A');
    // Three spaces, then 10 times 'A' in a last block that starts within the
    // final bytes, where libarchive's reader gives up.
    Bits late;
    header(late, 1, 256, 5);
    late.Put(0, 4);
    header(late, 10, 'A', 0);
    // 1000 times 'A' after a position code read to the end of the data, one
    // of its lengths begun with fewer than 3 bits held.
    Bits tight;
    tight.Put(1000, 16);
    tight.Put(0, 5), tight.Put(0, 5), tight.Put(0, 9), tight.Put('A', 9), tight.Put(7, positionBits);
    for (const uint32_t length : {1, 2, 3, 4, 5, 6, 6}) tight.Put(length, 3);
    // Exactly one output block of 'A', then a block of no symbols: the full
    // block goes out before the damage is found.
    Bits full;
    header(full, 65535, 'A', 0);
    header(full, 65535, 'A', 0);
    header(full, 2, 'A', 0);
    full.Put(0, 16);
    // The packed bytes' CRC is declared: the data are right when the CRC is all that is wrong.
    const auto decodings = ExpectAgreement(
        w::BuildArchive({Packed(s.bytes, method, expected.size()), Packed(s.bytes, method, 1038),
                         Packed(late.bytes, method, 13), Packed("", method, 0), Packed(std::string(1, '\0'), method, 0),
                         Packed(full.bytes, method, 131072), Packed(tight.bytes, method, 1000)}));
    ASSERT_EQ(decodings.size(), 7u);
    EXPECT_EQ(decodings[0].ours, expected);
    EXPECT_NE(decodings[0].oursDamage.find("CRC"), std::string::npos) << decodings[0].oursDamage;
    EXPECT_NE(decodings[1].oursDamage.find("超えて"), std::string::npos) << decodings[1].oursDamage;
    EXPECT_NE(decodings[2].oursDamage.find("圧縮データ"), std::string::npos) << decodings[2].oursDamage;
    EXPECT_EQ(decodings[3].oursDamage, "");
    EXPECT_NE(decodings[4].oursDamage.find("圧縮データ"), std::string::npos) << decodings[4].oursDamage;
    EXPECT_NE(decodings[5].oursDamage.find("圧縮データ"), std::string::npos) << decodings[5].oursDamage;
    EXPECT_EQ(decodings[5].ours, std::string(131072, 'A'));
    EXPECT_EQ(decodings[6].ours, std::string(1000, 'A'));
  }
}

TEST(LhDecoder, FindsTheDamageLibarchiveFindsInBrokenStreams) {
  const std::string data = Noise(132000, 7) + Text(24000, 8);
  for (w::Method method : kMethods) {
    SCOPED_TRACE(w::MethodId(method));
    const std::string packed = w::Compress(data, method);
    ASSERT_GT(packed.size(), 128u * 1024 + 64);
    std::vector<w::Member> members;
    // Flipped bits, each in a member of its own, the data CRC left as it was.
    std::string flips;
    std::mt19937 random(9);
    for (int i = 0; i < 30; ++i) {
      const w::Member sound = w::MakeMember("Data\\F.wf6", data, i % 3, method);
      std::string bytes = w::EncodeMember(sound);
      const std::size_t at = bytes.size() - packed.size() + random() % packed.size();
      bytes[at] = static_cast<char>(bytes[at] ^ (1 << (random() % 8)));
      flips += bytes;
    }
    // Cut short: across the end and across the end of the first read block.
    for (std::size_t cut = 1; cut <= 24; ++cut) {
      members.push_back(Packed(packed.substr(0, packed.size() - cut), method, data.size()));
    }
    for (std::size_t at = 128 * 1024 - 12; at <= 128 * 1024 + 12; ++at) {
      members.push_back(Packed(packed.substr(0, at), method, data.size()));
    }
    // Bytes after the end of the stream.
    for (int extra = 1; extra <= 8; ++extra) {
      members.push_back(Packed(packed + std::string(extra, '\0'), method, data.size()));
      members.push_back(Packed(packed + Noise(extra, extra), method, data.size()));
    }
    const auto decodings = ExpectAgreement(flips + w::BuildArchive(members));
    EXPECT_EQ(decodings.size(), 30 + members.size());
    // Most of them bad streams, libarchive's reader seeing the damage before the CRC does.
    const auto badStreams = std::count_if(decodings.begin(), decodings.end(), [](const fuzz::TwoDecodings& two) {
      return two.theirsDamage.find("圧縮データ") != std::string::npos;
    });
    EXPECT_GT(static_cast<std::size_t>(badStreams), decodings.size() / 2);
    EXPECT_GE(Damages(decodings).size(), 2u);
  }
}

// The archive as if it ended at `end`, for reads of what lies between `end` and `to`.
class EndsEarly : public rt::FileOps {
 public:
  EndsEarly(uint64_t end, uint64_t to) : end_(end), to_(to) {}
  ssize_t Pread(int fd, void* buffer, std::size_t count, off_t offset) override {
    const auto at = static_cast<uint64_t>(offset);
    if (at + count > end_ && at < to_) count = at < end_ ? static_cast<std::size_t>(end_ - at) : 0;
    return FileOps::Pread(fd, buffer, count, offset);
  }

 private:
  uint64_t end_, to_;
};

TEST(LhDecoder, FindsAFileThatEndsInsideTheDataAsLibarchiveDoes) {
  for (w::Method method : kMethods) {
    SCOPED_TRACE(w::MethodId(method));
    const w::Member member = w::MakeMember("Data\\T.wf6", Noise(200000, 10) + Text(200000, 11), 2, method);
    const std::string bytes = w::EncodeMember(member);
    const uint64_t start = bytes.size() - w::Compress(member.data, method).size();
    TempDir dir;
    const fs::path archive = dir.path() / "a.lzh";
    WriteFile(archive, w::BuildArchive({member}));
    const uint64_t packed = bytes.size() - start;
    for (const uint64_t end : {uint64_t{0}, uint64_t{1}, uint64_t{128 * 1024 - 1}, uint64_t{128 * 1024},
                               uint64_t{128 * 1024 + 1}, packed - 1}) {
      SCOPED_TRACE("ends " + std::to_string(end) + " bytes into the data");
      EndsEarly ends(start + end, bytes.size());
      ScopedOps scoped(ends);
      const std::vector<fuzz::TwoDecodings> decodings = fuzz::DecodeBothWays(archive.string());
      ASSERT_EQ(decodings.size(), 1u);
      EXPECT_TRUE(decodings[0].Agree());
      EXPECT_NE(decodings[0].theirsDamage.find("途中で切れて"), std::string::npos) << decodings[0].theirsDamage;
    }
  }
}

}  // namespace
}  // namespace zr::lzh::test
