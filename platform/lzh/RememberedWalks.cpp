// Header walks kept on disk, so that another run looking at the same unchanged archive reads no header twice.
#include "platform/lzh/RememberedWalks.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "platform/replace/RecordKey.h"
#include "platform/runtime/FileOps.h"

namespace zr::lzh {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMagic = "zr-walk 1\n";
constexpr std::size_t kMacLength = 64;  // hexadecimal HMAC-SHA-256
// A walk of 10,000 members takes a quarter of a megabyte; far larger
// archives are walked each time rather than kept.
constexpr std::size_t kMaxWalkBytes = 16u << 20;
constexpr std::size_t kKeptArchives = 8;
constexpr std::size_t kEntryBytes = 8 + 8 + 8 + 1;

std::mutex storeMutex;
std::function<fs::path()>& StoreFolder() {
  static auto* folder = new std::function<fs::path()>();
  return *folder;
}

// One file per archive (device and inode), so a changed archive's walk
// replaces its old one instead of adding to the pile.
std::string FileName(const ArchiveIdentity& id) {
  uint64_t h = 0xCBF29CE484222325ULL;
  for (const uint64_t v : {id.device, id.inode}) {
    for (int shift = 0; shift < 64; shift += 8) h = (h ^ ((v >> shift) & 0xFF)) * 0x100000001B3ULL;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name = "walk-";
  for (int shift = 60; shift >= 0; shift -= 4) name += kHex[(h >> shift) & 15];
  return name;
}

void Put(std::string& out, uint64_t v, int bytes = 8) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void PutIdentity(std::string& out, const ArchiveIdentity& id) {
  for (const uint64_t v : {id.device, id.inode, id.size, static_cast<uint64_t>(id.modifiedSeconds),
                           static_cast<uint64_t>(id.modifiedNanoseconds), static_cast<uint64_t>(id.changedSeconds),
                           static_cast<uint64_t>(id.changedNanoseconds)}) {
    Put(out, v);
  }
}

std::string Serialise(const ArchiveIdentity& id, const MemberIndex& index) {
  std::string out(kMagic);
  PutIdentity(out, id);
  Put(out, index.size());
  for (const IndexEntry& e : index) {
    Put(out, e.position);
    Put(out, e.fingerprint);
    Put(out, e.nameKey);
    Put(out, e.named ? 1 : 0, 1);
  }
  return out;
}

// Reads the bytes of a kept walk strictly: any field out of bounds or out of
// place makes the whole walk worthless.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool Get(uint64_t& v, int width = 8) {
    if (bytes_.size() - at_ < static_cast<std::size_t>(width)) return false;
    v = 0;
    for (int i = 0; i < width; ++i) v |= uint64_t{static_cast<unsigned char>(bytes_[at_ + i])} << (8 * i);
    at_ += static_cast<std::size_t>(width);
    return true;
  }
  bool Done() const { return at_ == bytes_.size(); }
  std::size_t Left() const { return bytes_.size() - at_; }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
};

bool GetEntry(Reader& in, IndexEntry& e) {
  uint64_t named = 0;
  if (!in.Get(e.position) || !in.Get(e.fingerprint) || !in.Get(e.nameKey) || !in.Get(named, 1) || named > 1) {
    return false;
  }
  e.named = named == 1;
  return true;
}

std::shared_ptr<const MemberIndex> Parse(std::string_view body, const ArchiveIdentity& id) {
  if (body.substr(0, kMagic.size()) != kMagic) return nullptr;
  std::string expected;
  PutIdentity(expected, id);
  if (body.substr(kMagic.size(), expected.size()) != expected) return nullptr;
  Reader in(body.substr(kMagic.size() + expected.size()));
  uint64_t count = 0;
  if (!in.Get(count) || in.Left() % kEntryBytes != 0 || count != in.Left() / kEntryBytes) return nullptr;
  auto index = std::make_shared<MemberIndex>(static_cast<std::size_t>(count));
  for (IndexEntry& e : *index) {
    if (!GetEntry(in, e)) return nullptr;
  }
  return in.Done() ? index : nullptr;
}

// The store's folder open, made when `make` and missing; -1 otherwise.
int OpenFolder(bool make) {
  const std::function<fs::path()>& where = StoreFolder();
  if (!where) return -1;
  const fs::path folder = where();
  if (make) rt::Ops().MkdirAt(AT_FDCWD, folder.c_str(), 0700);
  return rt::Ops().Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
}

std::string ReadKept(int folder, const std::string& name) {
  const rt::UniqueFd fd =
      rt::OwnedFd(rt::Ops().OpenAt(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
  struct stat st {};
  if (!fd.valid() || rt::Ops().Fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
      static_cast<uint64_t>(st.st_size) > kMaxWalkBytes) {
    return {};
  }
  std::string bytes(static_cast<std::size_t>(st.st_size) + 1, '\0');
  const ssize_t got = rt::ReadUpTo(fd.get(), bytes.data(), bytes.size());
  if (got != st.st_size) return {};
  bytes.resize(static_cast<std::size_t>(got));
  return bytes;
}

// Lets the oldest walks go once more than kKeptArchives are kept, and what
// a run that died while writing one left behind.
void Prune(int folder) {
  std::vector<std::pair<timespec, std::string>> kept;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  for (const std::string& name : rt::FolderNames(folder)) {
    struct stat st {};
    if (rt::Ops().FstatAt(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (name.rfind("walk-", 0) == 0) kept.emplace_back(st.st_mtim, name);
    // Old enough that no run can still be writing it.
    if (name.rfind(".zrtmp-walk-", 0) == 0 && st.st_mtim.tv_sec + 3600 < now.tv_sec) {
      rt::Ops().UnlinkAt(folder, name.c_str(), 0);
    }
  }
  if (kept.size() <= kKeptArchives) return;
  std::sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) {
    return a.first.tv_sec != b.first.tv_sec ? a.first.tv_sec < b.first.tv_sec : a.first.tv_nsec < b.first.tv_nsec;
  });
  for (std::size_t i = 0; i + kKeptArchives < kept.size(); ++i) rt::Ops().UnlinkAt(folder, kept[i].second.c_str(), 0);
}

std::string PassingName() {
  unsigned char random[8] = {};
  if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name = ".zrtmp-walk-";
  for (const unsigned char c : random) {
    name += kHex[c >> 4];
    name += kHex[c & 15];
  }
  return name;
}

}  // namespace

void InstallWalkStore(std::function<fs::path()> folder) {
  std::lock_guard lock(storeMutex);
  StoreFolder() = std::move(folder);
}

std::shared_ptr<const MemberIndex> LoadWalk(const ArchiveIdentity& identity) noexcept {
  try {
    std::lock_guard lock(storeMutex);
    const rt::UniqueFd folder = rt::OwnedFd(OpenFolder(false));
    if (!folder.valid()) return nullptr;
    const std::string bytes = ReadKept(folder.get(), FileName(identity));
    const std::optional<replace::RecordKey> key = replace::CheckingKey();
    if (!key || bytes.size() < kMagic.size() + kMacLength) return nullptr;
    const std::string_view body = std::string_view(bytes).substr(0, bytes.size() - kMacLength);
    if (!replace::Authentic(*key, body, std::string_view(bytes).substr(body.size()))) return nullptr;
    return Parse(body, identity);
  } catch (...) {
    return nullptr;
  }
}

void StoreWalk(const ArchiveIdentity& identity, const MemberIndex& index) noexcept {
  try {
    std::lock_guard lock(storeMutex);
    if (!StoreFolder()) return;
    std::string bytes = Serialise(identity, index);
    if (bytes.size() + kMacLength > kMaxWalkBytes) return;
    bytes += replace::Authenticator(replace::SealingKey(), bytes);
    const rt::UniqueFd folder = rt::OwnedFd(OpenFolder(true));
    const std::string passing = PassingName();
    if (!folder.valid() || passing.empty()) return;
    // Nothing is flushed: a walk cut short by a crash fails its seal and is walked again.
    rt::UniqueFd fd = rt::OwnedFd(
        rt::Ops().OpenAt(folder.get(), passing.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) return;
    const bool written = rt::WriteAll(fd.get(), bytes);
    fd.Reset();
    if (!written || rt::Ops().RenameAt(folder.get(), passing.c_str(), folder.get(), FileName(identity).c_str()) != 0) {
      rt::Ops().UnlinkAt(folder.get(), passing.c_str(), 0);
      return;
    }
    Prune(folder.get());
  } catch (...) {
  }
}

void DropWalk(const ArchiveIdentity& identity) noexcept {
  try {
    std::lock_guard lock(storeMutex);
    const rt::UniqueFd folder = rt::OwnedFd(OpenFolder(false));
    if (folder.valid()) rt::Ops().UnlinkAt(folder.get(), FileName(identity).c_str(), 0);
  } catch (...) {
  }
}

}  // namespace zr::lzh
