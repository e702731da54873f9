#include "fuzz/lzh/ExtractFuzz.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/lzh/ArchiveIndex.h"
#include "platform/lzh/DataCheck.h"
#include "platform/lzh/ErrorTexts.h"
#include "platform/lzh/Extract.h"
#include "platform/lzh/HeaderWalk.h"
#include "platform/lzh/MemberReader.h"
#include "platform/runtime/FileOps.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::lzh::fuzz {
namespace {

namespace fs = std::filesystem;

// Durability is not what is being searched for; skipping fsync keeps the
// fuzzer fast.
class NoSyncOps : public rt::FileOps {
 public:
  int Fsync(int) override { return 0; }
};

struct Scratch {
  fs::path root;
  fs::path archive;
  fs::path out;
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "zrfuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    root = pattern;
    archive = root / "in.lzh";
    out = root / "out";
    fs::create_directory(out);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "extraction promise broken: %s\n", what);
  std::abort();
}

std::size_t Entries(const fs::path& dir) {
  std::size_t n = 0;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) ++n;
  return n;
}

// One extraction with every promise checked: the number of missing members
// (0 to 2), or -1 for a refused archive.
int CheckedExtraction(const Scratch& scratch, Mode mode) {
  const std::vector<std::string> members = {"Data\\ZrXXComn.wf6", "Work\\ZrBunsyo.wf6"};
  int missing = -1;
  try {
    missing = ExtractMembers(scratch.archive.string(), scratch.out.string(), mode, members);
  } catch (const rt::RuntimeError& e) {
    if (e.number() != rt::err::BadFileFormat) Broken("unexpected error number");
    if (Entries(scratch.out) != 0) Broken("a failed extraction left files behind");
    return -1;
  }
  if (missing < 0 || missing > 2) Broken("impossible result");
  if (missing > 0 && Entries(scratch.out) != 0) Broken("an incomplete extraction wrote files");
  if (missing == 0) {
    const bool keep = mode == Mode::KeepFolders;
    const fs::path a = keep ? scratch.out / "Data" / "ZrXXComn.wf6" : scratch.out / "ZrXXComn.wf6";
    const fs::path b = keep ? scratch.out / "Work" / "ZrBunsyo.wf6" : scratch.out / "ZrBunsyo.wf6";
    if (!fs::is_regular_file(a) || !fs::is_regular_file(b)) Broken("a successful extraction lacks a member");
    for (const auto& entry : fs::directory_iterator(scratch.out)) fs::remove_all(entry.path());
  }
  return missing;
}

// The member as libarchive alone decodes it: what our decoder is held to.
std::string LibarchiveDecoding(int fd, uint64_t size, const IndexedMember& member, const std::string& path,
                               std::string& damage) {
  std::string bytes;
  const std::string label = "m";  // the reader keeps a reference
  try {
    RefuseUndecodable(member.header, path, label);
    MemberReader reader(fd, size, member, path, label);
    const void* data = nullptr;
    std::size_t n = 0;
    while (reader.Next(data, n)) bytes.append(static_cast<const char*>(data), n);
    if (reader.produced() != member.header.originalSize) throw MemberDamaged(path, label, DataFault::Length);
  } catch (const rt::RuntimeError& e) {
    damage = e.description();
  }
  return bytes;
}

}  // namespace

std::vector<TwoDecodings> DecodeBothWays(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) std::abort();
  struct Closed {
    int fd;
    ~Closed() { close(fd); }
  } closed{fd};
  struct stat st {};
  if (fstat(fd, &st) != 0) std::abort();
  const auto size = static_cast<uint64_t>(st.st_size);
  std::vector<IndexedMember> members;
  try {
    members = WalkHeaders(fd, size, path);
  } catch (const rt::RuntimeError&) {
    return {};
  }
  std::vector<TwoDecodings> result;
  CheckSpace space;
  const std::atomic<bool> stop{false};
  for (const IndexedMember& member : members) {
    if (!member.regular || !Decodable(member.header.method)) continue;
    TwoDecodings& two = result.emplace_back();
    two.stored = Stored(member.header.method);
    try {
      CheckMemberData(fd, size, member, path, "m", space, stop, [&](const uint8_t* data, std::size_t n) {
        two.ours.append(reinterpret_cast<const char*>(data), n);
      });
    } catch (const rt::RuntimeError& e) {
      two.oursDamage = e.description();
    }
    two.theirs = LibarchiveDecoding(fd, size, member, path, two.theirsDamage);
  }
  return result;
}

void ExtractOnce(const uint8_t* data, std::size_t size) {
  static Scratch scratch;
  static NoSyncOps ops;
  struct Installed {
    rt::FileOps* previous = rt::InstallFileOps(&ops);
    ~Installed() { rt::InstallFileOps(previous); }
  } installed;
  {
    std::ofstream f(scratch.archive, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const Mode mode = (size % 2 == 0) ? Mode::KeepFolders : Mode::BareName;
  // Rewritten in place within one clock tick, the file can look unchanged;
  // the first run walks it for certain, the second reuses that walk and
  // must come to the same end.
  ForgetIndex();
  const int walked = CheckedExtraction(scratch, mode);
  if (CheckedExtraction(scratch, mode) != walked) Broken("the remembered walk disagrees with a fresh one");
  for (const TwoDecodings& two : DecodeBothWays(scratch.archive.string())) {
    if (!two.Agree()) Broken("the check decodes unlike libarchive");
  }
}

}  // namespace zr::lzh::fuzz
