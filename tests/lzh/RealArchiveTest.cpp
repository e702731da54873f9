// Archives written by Windows and DOS archivers (third-party test data, read
// in place): every member extracts byte for byte in both modes, or, for a
// method libarchive cannot decode, fails clearly and writes nothing.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/lzh/Extract.h"
#include "platform/runtime/RuntimeError.h"
#include "tests/lzh/LzhTestSupport.h"
#include "tests/support/TempDir.h"

namespace zr::lzh::test {
namespace {

using zr::test::ReadFile;
using zr::test::TempDir;

struct Listed {
  bool readable = false;                                   // libarchive recognised the archive
  std::vector<std::pair<std::string, std::string>> files;  // stored path, method
};

// The regular members as libarchive lists them.
Listed List(const fs::path& archive) {
  Listed listed;
  struct archive* a = archive_read_new();
  archive_read_support_format_lha(a);
  if (archive_read_open_filename(a, archive.c_str(), 10240) == ARCHIVE_OK) {
    listed.readable = true;
    struct archive_entry* entry = nullptr;
    while (archive_read_next_header(a, &entry) == ARCHIVE_OK) {
      if (archive_entry_filetype(entry) != AE_IFREG) continue;
      const char* format = archive_format_name(a);
      listed.files.emplace_back(archive_entry_pathname(entry), format != nullptr ? format : "");
    }
  }
  archive_read_free(a);
  return listed;
}

// lhasa prints the data of every member; these archives hold one file each.
std::string LhasaData(const fs::path& archive) {
  std::string out;
  FILE* pipe = popen(("lhasa pq '" + archive.string() + "'").c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[65536];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TEST(LzhRealArchives, ExtractExactlyOrFailCleanly) {
  const fs::path root = fs::path(ZR_THIRD_PARTY_DATA) / "lzh-real";
  ASSERT_TRUE(fs::is_directory(root)) << root;
  ASSERT_EQ(0, std::system("command -v lhasa > /dev/null 2>&1")) << "lhasa, the decoder the data is compared with";
  int extracted = 0;
  int refused = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().extension() != ".lzh") continue;
    const fs::path archive = entry.path();
    SCOPED_TRACE(archive.string());
    const Listed listed = List(archive);
    if (!listed.readable) {
      TempDir dir;
      try {
        ExtractMembers(archive, dir.folder(), Mode::KeepFolders, {"LICENSE.MIT"});
        ADD_FAILURE() << "an archive libarchive cannot read was accepted";
      } catch (const rt::RuntimeError& e) {
        EXPECT_EQ(rt::err::BadFileFormat, e.number());
      }
      EXPECT_TRUE(Snapshot(dir.path()).empty());
      ++refused;
      continue;
    }
    ASSERT_EQ(1u, listed.files.size());
    std::string stored = listed.files[0].first;
    const std::string method = listed.files[0].second;
    // LHMelt stores a leading separator; the request is the relative path.
    while (!stored.empty() && stored.front() == '/') stored.erase(0, 1);
    std::string windows = stored;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    const bool decodable = method.find("lh1") == std::string::npos && method.find("lh2") == std::string::npos &&
                           method.find("lh3") == std::string::npos;
    TempDir kept;
    TempDir bare;
    if (!decodable) {
      for (Mode mode : {Mode::KeepFolders, Mode::BareName}) {
        const fs::path out = mode == Mode::KeepFolders ? kept.path() : bare.path();
        try {
          ExtractMembers(archive, out, mode, {windows});
          ADD_FAILURE() << method << " was not refused";
        } catch (const rt::RuntimeError& e) {
          EXPECT_EQ(rt::err::BadFileFormat, e.number());
          EXPECT_NE(std::string::npos, e.description().find(method.substr(method.size() - 5))) << e.description();
        }
        EXPECT_TRUE(Snapshot(out).empty());
      }
      ++refused;
      continue;
    }
    const std::string expected = LhasaData(archive);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(0, ExtractMembers(archive, kept.path(), Mode::KeepFolders, {windows}));
    EXPECT_EQ(expected, ReadFile(kept.path() / stored));
    // Mode 1 with the name in other letters: DOS archivers store capitals.
    EXPECT_EQ(0, ExtractMembers(archive, bare.path(), Mode::BareName, {Lower(windows)}));
    EXPECT_EQ(expected, ReadFile(bare.path() / Lower(fs::path(stored).filename().string())));
    ++extracted;
  }
  EXPECT_GE(extracted, 30);
  EXPECT_GE(refused, 5);
}

}  // namespace
}  // namespace zr::lzh::test
