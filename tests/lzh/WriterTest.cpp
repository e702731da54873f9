// Our writer's compressed output, checked by two decoders that are not
// ours: libarchive (through the extraction) and lhasa.
#include <gtest/gtest.h>

#include <random>

#include "platform/lzh/Extract.h"
#include "tests/lzh/LzhTestSupport.h"
#include "tests/support/TempDir.h"
#include "tools/lzhwriter/LzhWriter.h"

namespace zr::lzh::test {
namespace {

namespace w = zr::lzh::writer;
using zr::test::ReadFile;
using zr::test::TempDir;

TEST(LzhWriter, CompressedMembersDecodeExactlyElsewhere) {
  std::mt19937 random(5);
  std::string noise(70000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  std::string text;
  while (text.size() < 300000) text += "利用者" + std::to_string(random() % 700) + (random() % 9 ? " " : "\r\n");
  std::string far(40000, '\0');  // matches at the far end of the 32 and 64 KiB windows
  for (char& c : far) c = static_cast<char>(random() % 4);
  far += far;
  const std::pair<const char*, std::string> samples[] = {
      {"empty", ""}, {"one", "x"}, {"run", std::string(100000, 'a')}, {"noise", noise}, {"text", text}, {"far", far}};
  TempDir dir;
  std::vector<w::Member> members;
  for (w::Method method : {w::Method::Lh5, w::Method::Lh6, w::Method::Lh7}) {
    for (const auto& [name, data] : samples) {
      members.push_back(w::MakeMember(std::string(name) + w::MethodId(method), data, 2, method));
    }
  }
  const fs::path archive = dir.path() / "w.lzh";
  w::WriteArchiveFile(archive, members);
  EXPECT_LT(w::Compress(text, w::Method::Lh5).size(), text.size() / 3);
  for (const w::Member& m : members) {
    SCOPED_TRACE(m.path);
    ASSERT_EQ(0, ExtractMembers(archive, dir.path(), Mode::BareName, {m.path}));
    EXPECT_TRUE(ReadFile(dir.path() / m.path) == m.data);
  }
  if (std::system("command -v lhasa > /dev/null 2>&1") == 0) {
    EXPECT_EQ(0, std::system(("lhasa t '" + archive.string() + "' > /dev/null 2>&1").c_str())) << "lhasa rejects it";
  }
}

}  // namespace
}  // namespace zr::lzh::test
