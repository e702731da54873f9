// The secret that makes an intent record provably this user's program's own, on any file system.
#include "platform/replace/RecordKey.h"

#include <fcntl.h>
#include <nettle/hmac.h>
#include <nettle/memops.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "platform/replace/LinkOrCopy.h"
#include "platform/replace/OurNames.h"
#include "platform/runtime/FileOps.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::replace {
namespace {

namespace fs = std::filesystem;
using rt::Ops;

std::mutex keyMutex;
std::function<fs::path()> installedFile;

RecordKey RandomKey() {
  RecordKey key{};
  std::size_t filled = 0;
  while (filled < key.size()) {
    const ssize_t n = getrandom(key.data() + filled, key.size() - filled, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw rt::ErrorFromErrno(errno, "置き換えの記録の鍵を作成できません（乱数を得られません）");
    filled += static_cast<std::size_t>(n);
  }
  return key;
}

// Made as the program starts, so children it forks share it.
const RecordKey processKey = RandomKey();

const RecordKey& ProcessKey() { return processKey; }

enum class KeyFile { Read, Missing, CutShort, Unusable };

// A key file whose creation a crash cut short was never used: keys are
// flushed whole before the first record is sealed with them.
KeyFile ReadKeyFile(const fs::path& file, RecordKey& key, int& errnum) {
  rt::UniqueFd fd = rt::OwnedFd(Ops().Open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
  struct stat st {};
  if (!fd.valid()) {
    errnum = errno;
    return errnum == ENOENT ? KeyFile::Missing : KeyFile::Unusable;
  }
  if (Ops().Fstat(fd.get(), &st) != 0) {
    errnum = errno;
    return KeyFile::Unusable;
  }
  errnum = EINVAL;
  if (!S_ISREG(st.st_mode) || st.st_size > static_cast<off_t>(key.size())) return KeyFile::Unusable;
  if (st.st_size < static_cast<off_t>(key.size())) return KeyFile::CutShort;
  const ssize_t n = rt::ReadUpTo(fd.get(), key.data(), key.size());
  if (n < 0) errnum = errno;
  return n == static_cast<ssize_t>(key.size()) ? KeyFile::Read : KeyFile::Unusable;
}

rt::RuntimeError KeyError(int errnum, const fs::path& file) {
  return rt::ErrorFromErrno(errnum, "置き換えの記録の鍵を使えません: " + file.string());
}

// Written whole under a passing name and only then given its own, so the
// key's name never stands for fewer bytes; where hard links are missing it
// is written in place instead (a cut-short one is then made anew).
void MakeKeyFile(const fs::path& file, const RecordKey& key, bool replaceCutShort) {
  const fs::path folder = file.parent_path();
  rt::MakeFolders(folder.string());
  rt::UniqueFd dir = rt::OwnedFd(Ops().Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!dir.valid()) throw KeyError(errno, file);
  const std::string name = file.filename().string();
  if (replaceCutShort) Ops().UnlinkAt(dir.get(), name.c_str(), 0);
  auto writeAt = [&](const std::string& at) {
    rt::UniqueFd out =
        rt::OwnedFd(Ops().OpenAt(dir.get(), at.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out.valid()) return errno;
    const std::string_view bytes(reinterpret_cast<const char*>(key.data()), key.size());
    if (!rt::WriteAll(out.get(), bytes) || Ops().Fsync(out.get()) != 0 || Ops().Close(out.Release()) != 0) {
      const int e = errno;
      Ops().UnlinkAt(dir.get(), at.c_str(), 0);
      return e;
    }
    return 0;
  };
  const std::string passing = NewName(kTempPrefix);
  int e = writeAt(passing);
  if (e == 0) {
    e = Ops().LinkAt(dir.get(), passing.c_str(), dir.get(), name.c_str()) == 0 ? 0 : errno;
    Ops().UnlinkAt(dir.get(), passing.c_str(), 0);
    if (NoHardLinks(e)) e = writeAt(name);
  }
  if (e != 0 && e != EEXIST) throw KeyError(e, file);
  if (Ops().Fsync(dir.get()) != 0) throw KeyError(errno, file);
}

}  // namespace

void InstallRecordKeyFile(std::function<fs::path()> file) {
  std::lock_guard lock(keyMutex);
  installedFile = std::move(file);
}

RecordKey SealingKey() {
  std::lock_guard lock(keyMutex);
  if (!installedFile) return ProcessKey();
  const fs::path file = installedFile();
  RecordKey key{};
  int errnum = 0;
  KeyFile state = ReadKeyFile(file, key, errnum);
  if (state == KeyFile::Missing || state == KeyFile::CutShort) {
    MakeKeyFile(file, RandomKey(), state == KeyFile::CutShort);
    // Whoever made it first, the file now holds the key everyone uses.
    state = ReadKeyFile(file, key, errnum);
  }
  if (state != KeyFile::Read) throw KeyError(errnum, file);
  return key;
}

std::optional<RecordKey> CheckingKey() noexcept {
  try {
    std::lock_guard lock(keyMutex);
    if (!installedFile) return ProcessKey();
    const fs::path file = installedFile();
    RecordKey key{};
    int errnum = 0;
    if (ReadKeyFile(file, key, errnum) != KeyFile::Read) return std::nullopt;
    return key;
  } catch (...) {
    return std::nullopt;
  }
}

std::string Authenticator(const RecordKey& key, std::string_view bytes) {
  // Nettle rather than a larger crypto library: libarchive already maps it
  // into the process, so sealing costs no start-up time and no memory.
  hmac_sha256_ctx context;
  hmac_sha256_set_key(&context, key.size(), key.data());
  hmac_sha256_update(&context, bytes.size(), reinterpret_cast<const uint8_t*>(bytes.data()));
  uint8_t mac[SHA256_DIGEST_SIZE];
  hmac_sha256_digest(&context, sizeof mac, mac);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (const uint8_t byte : mac) {
    text += kHex[byte >> 4];
    text += kHex[byte & 15];
  }
  return text;
}

bool Authentic(const RecordKey& key, std::string_view bytes, std::string_view mac) {
  const std::string expected = Authenticator(key, bytes);
  return mac.size() == expected.size() && memeql_sec(mac.data(), expected.data(), expected.size()) != 0;
}

}  // namespace zr::replace
