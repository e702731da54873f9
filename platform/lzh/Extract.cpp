#include "platform/lzh/Extract.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "platform/lzh/Crc16.h"
#include "platform/lzh/FileOps.h"
#include "platform/lzh/Header.h"
#include "platform/lzh/MemberName.h"
#include "platform/runtime/Interaction.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::lzh {
namespace {

constexpr std::size_t kReadBlock = 128 * 1024;
constexpr std::size_t kFirstHeaderRead = 4096;
// What a 32-bit size field can say; only the 64-bit extension claims more,
// and no member this program restores comes near it.
constexpr int64_t kMaxMemberBytes = 0xFFFFFFFFLL;

// ---------------------------------------------------------------- messages

std::string FaultText(HeaderFault fault) {
  switch (fault) {
    case HeaderFault::NotLzh:
      return "LZH形式のヘッダーがありません";
    case HeaderFault::Truncated:
      return "ファイルが途中で切れています";
    case HeaderFault::BadChecksum:
      return "ヘッダーのチェックサムが一致しません";
    case HeaderFault::BadHeaderCrc:
      return "ヘッダーのCRCが一致しません";
    case HeaderFault::BadExtension:
      return "拡張ヘッダーが正しくありません";
    case HeaderFault::TooLarge:
      return "ヘッダーが大きすぎます";
    case HeaderFault::BadSize:
      return "格納サイズが正しくありません";
    case HeaderFault::BadLayout:
    case HeaderFault::None:
      break;
  }
  return "ヘッダーの内容が正しくありません";
}

rt::RuntimeError ArchiveDamaged(const std::string& archive, const std::string& reason) {
  return rt::RuntimeError(rt::err::BadFileFormat, "バックアップファイルが壊れているか、LZH形式ではありません。(" +
                                                      reason + ": " + archive + ")");
}

rt::RuntimeError MemberDamaged(const std::string& archive, const std::string& member, const std::string& reason) {
  return rt::RuntimeError(rt::err::BadFileFormat, "バックアップファイル内の「" + member + "」が壊れています。(" +
                                                      reason + ": " + archive + ")");
}

// ------------------------------------------------------------------ helpers

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset() {
    if (fd_ >= 0) Ops().Close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// libarchive decides how to convert names from the calling thread's
// LC_CTYPE; a C locale makes it refuse every non-ASCII name. Each extraction
// therefore runs under its own UTF-8 locale, leaving the process's alone.
class ThreadUtf8Locale {
 public:
  ThreadUtf8Locale() {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      locale_ = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
      if (locale_ != static_cast<locale_t>(nullptr)) break;
    }
    if (locale_ == static_cast<locale_t>(nullptr)) {
      throw rt::RuntimeError(rt::err::Internal,
                             "UTF-8のロケールが利用できないため、バックアップファイルを読み込めません。");
    }
    previous_ = uselocale(locale_);
  }
  ~ThreadUtf8Locale() {
    uselocale(previous_);
    freelocale(locale_);
  }
  ThreadUtf8Locale(const ThreadUtf8Locale&) = delete;
  ThreadUtf8Locale& operator=(const ThreadUtf8Locale&) = delete;

 private:
  locale_t locale_ = static_cast<locale_t>(nullptr);
  locale_t previous_ = static_cast<locale_t>(nullptr);
};

std::string RandomSuffix() {
  static std::atomic<uint64_t> counter{0};
  unsigned char bytes[6] = {};
  if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    const uint64_t mix = (static_cast<uint64_t>(getpid()) << 24) ^ counter.fetch_add(1);
    for (std::size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(mix >> (8 * i));
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string s;
  for (unsigned char b : bytes) {
    s += kHex[b >> 4];
    s += kHex[b & 15];
  }
  return s;
}

std::string Join(const PathParts& parts) {
  std::string s;
  for (const std::string& p : parts) {
    if (!s.empty()) s += '/';
    s += p;
  }
  return s;
}

// ------------------------------------------------------------ archive input

// Feeds the archive to libarchive. Deliveries never cross the start of the
// next member header: that header is first read and checked here (size
// limits, checksums, sizes against the file), handed over whole, and only
// then followed by that member's data. libarchive therefore never buffers
// more than one checked header, whatever the file claims.
class ArchiveSource {
 public:
  struct Parsed {
    uint64_t position = 0;
    MemberHeader header;
  };

  ArchiveSource(int fd, uint64_t size, const std::string& archive) : fd_(fd), size_(size), archive_(archive) {}

  static la_ssize_t Read(struct archive* a, void* self, const void** buffer) {
    return static_cast<ArchiveSource*>(self)->DoRead(a, buffer);
  }
  static la_int64_t Skip(struct archive*, void* self, la_int64_t request) {
    return static_cast<ArchiveSource*>(self)->DoSkip(request);
  }

  const std::optional<Parsed>& last() const { return last_; }
  const std::optional<rt::RuntimeError>& failure() const { return failure_; }

 private:
  la_ssize_t Fail(struct archive* a, rt::RuntimeError error) {
    archive_set_error(a, EINVAL, "%s", error.description().c_str());
    failure_ = std::move(error);
    return -1;
  }

  // Reads `count` bytes at `offset` (fewer only at the end of the file).
  bool ReadAt(std::vector<uint8_t>& into, std::size_t count, uint64_t offset, std::size_t& got) {
    into.resize(std::max(into.size(), count));
    got = 0;
    while (got < count) {
      const ssize_t n = Ops().Pread(fd_, into.data() + got, count - got, static_cast<off_t>(offset + got));
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    return true;
  }

  rt::RuntimeError ReadError(int errnum) const {
    return rt::ErrorFromErrno(errnum, "バックアップファイルを読み込めません: " + archive_);
  }

  la_ssize_t DoRead(struct archive* a, const void** buffer) {
    if (failure_) return Fail(a, *failure_);
    if (!ended_ && offset_ == boundary_) {
      if (offset_ >= size_) return 0;
      const uint64_t available = size_ - offset_;
      std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(kFirstHeaderRead, available));
      for (;;) {
        std::size_t got = 0;
        if (!ReadAt(header_, want, offset_, got)) return Fail(a, ReadError(errno));
        MemberHeader h;
        const bool toEnd = offset_ + got >= size_ || got < want;
        const HeaderParse parse = ParseHeader({header_.data(), got}, toEnd, h);
        if (parse.status == HeaderParse::NeedMore) {
          want = static_cast<std::size_t>(std::min<uint64_t>(std::max(parse.needed, got + 1), available));
          continue;
        }
        if (parse.status == HeaderParse::EndOfArchive) {
          ended_ = true;
          break;
        }
        if (parse.status == HeaderParse::Fault) {
          return Fail(a, ArchiveDamaged(archive_, FaultText(parse.fault)));
        }
        if (static_cast<uint64_t>(h.packedSize) > available - h.span) {
          return Fail(a, ArchiveDamaged(archive_, FaultText(HeaderFault::Truncated)));
        }
        NeutraliseNameExtensions({header_.data(), h.span}, h);
        boundary_ = offset_ + h.span + static_cast<uint64_t>(h.packedSize);
        last_ = Parsed{offset_, std::move(h)};
        offset_ += last_->header.span;
        *buffer = header_.data();
        return static_cast<la_ssize_t>(last_->header.span);
      }
    }
    const uint64_t limit = ended_ ? size_ : boundary_;
    const std::size_t count = static_cast<std::size_t>(std::min<uint64_t>(kReadBlock, limit - offset_));
    if (count == 0) return 0;
    std::size_t got = 0;
    if (!ReadAt(block_, count, offset_, got)) return Fail(a, ReadError(errno));
    offset_ += got;
    *buffer = block_.data();
    return static_cast<la_ssize_t>(got);
  }

  la_int64_t DoSkip(la_int64_t request) {
    if (failure_ || request <= 0) return 0;
    const uint64_t limit = ended_ ? size_ : boundary_;
    const uint64_t step = std::min<uint64_t>(static_cast<uint64_t>(request), limit - offset_);
    offset_ += step;
    return static_cast<la_int64_t>(step);
  }

  int fd_;
  uint64_t size_;
  const std::string& archive_;
  uint64_t offset_ = 0;
  uint64_t boundary_ = 0;
  bool ended_ = false;
  std::vector<uint8_t> header_;
  std::vector<uint8_t> block_;
  std::optional<Parsed> last_;
  std::optional<rt::RuntimeError> failure_;
};

struct ArchiveDeleter {
  void operator()(struct archive* a) const { archive_read_free(a); }
};
using ArchivePtr = std::unique_ptr<struct archive, ArchiveDeleter>;

// ------------------------------------------------------------------ targets

struct Target {
  PathParts member;  // what to look for in the archive
  PathParts folder;  // where it goes, under the destination
  std::string file;
  std::string label;  // the requested name as given, for messages
  int requested = 0;  // list entries that name this member

  int folderFd = -1;
  std::string temp;  // complete copy waiting for the rename
  bool found = false;
  std::string backup;  // hard link to the replaced file while renaming
  bool existed = false;
};

// Owns everything written before the final renames: folders it created,
// temporary copies, backup links. Unless Commit() completes, its destructor
// removes them all and the destination is as it was.
class Staging {
 public:
  Staging(int destinationFd, std::string destination)
      : destinationFd_(destinationFd), destination_(std::move(destination)) {}

  ~Staging() {
    if (!committed_) Discard();
    for (auto& [path, fd] : folders_) Ops().Close(fd);
  }
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;

  void Register(Target& target) { targets_.push_back(&target); }

  std::string DisplayPath(const Target& t) const {
    std::string_view base = destination_;
    while (base.size() > 1 && base.back() == '/') base.remove_suffix(1);
    std::string s(base);
    s += '/';
    if (!t.folder.empty()) s += Join(t.folder) + "/";
    return s + t.file;
  }

  int Folder(const Target& t) {
    int parent = destinationFd_;
    std::string path;
    for (const std::string& part : t.folder) {
      path += (path.empty() ? "" : "/") + part;
      auto cached = folders_.find(path);
      if (cached != folders_.end()) {
        parent = cached->second;
        continue;
      }
      int fd = Ops().OpenAt(parent, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
      if (fd < 0 && errno == ENOENT) {
        if (Ops().MkdirAt(parent, part.c_str(), 0777) == 0) {
          created_.push_back({parent, part});
        } else if (errno != EEXIST) {
          throw rt::ErrorFromErrno(errno, "「" + t.label + "」の展開先のフォルダーを作成できません: " + Where(path));
        }
        fd = Ops().OpenAt(parent, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
      }
      if (fd < 0) {
        throw rt::ErrorFromErrno(errno, "「" + t.label + "」の展開先のフォルダーを開けません: " + Where(path));
      }
      folders_.emplace(path, fd);
      parent = fd;
    }
    return parent;
  }

  // A new, exclusive temporary file beside the target, never reached
  // through a symlink, with the replaced file's permission bits.
  Fd CreateTemp(Target& t, std::string& name) {
    t.folderFd = Folder(t);
    struct stat st {};
    bool keepMode = false;
    if (Ops().FstatAt(t.folderFd, t.file.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISDIR(st.st_mode)) {
        throw rt::RuntimeError(rt::err::PathFileAccess, "同じ名前のフォルダーがあるため「" + t.label +
                                                            "」を展開できません。(" + DisplayPath(t) + ")");
      }
      keepMode = S_ISREG(st.st_mode);
    } else if (errno != ENOENT) {
      throw rt::ErrorFromErrno(errno, "「" + t.label + "」の展開先を調べられません: " + DisplayPath(t));
    }
    for (int attempt = 0;; ++attempt) {
      name = ".zrtmp-" + RandomSuffix();
      const int fd = Ops().OpenAt(t.folderFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                  keepMode ? 0600 : 0666);
      if (fd >= 0) {
        Fd file(fd);
        if (keepMode) {
          if (Ops().Fchmod(fd, st.st_mode & 07777) != 0) {
            const int e = errno;
            Ops().UnlinkAt(t.folderFd, name.c_str(), 0);
            throw rt::ErrorFromErrno(e, "「" + t.label + "」の一時ファイルを作成できません: " + DisplayPath(t));
          }
          // Keeps a restore run by an administrator from handing the
          // user's database to root; not possible otherwise, and not needed.
          if (st.st_uid != geteuid() || st.st_gid != getegid()) Ops().Fchown(fd, st.st_uid, st.st_gid);
        }
        return file;
      }
      if (errno != EEXIST || attempt >= 100) {
        throw rt::ErrorFromErrno(errno, "「" + t.label + "」の一時ファイルを作成できません: " + DisplayPath(t));
      }
    }
  }

  // Adopts a finished copy; an earlier occurrence of the same member gives way.
  void Adopt(Target& t, const std::string& temp) {
    if (!t.temp.empty()) Ops().UnlinkAt(t.folderFd, t.temp.c_str(), 0);
    t.temp = temp;
    t.found = true;
  }

  void Commit() {
    std::vector<Target*> ready;
    for (Target* t : targets_) {
      if (t->found) ready.push_back(t);
    }
    // Backup links let a failed rename put the earlier ones back. Where the
    // file system has no hard links we go on without that safety net.
    for (Target* t : ready) {
      struct stat st {};
      t->existed = Ops().FstatAt(t->folderFd, t->file.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
      if (!t->existed && errno != ENOENT) {
        throw rt::ErrorFromErrno(errno, "「" + t->label + "」の展開先を調べられません: " + DisplayPath(*t));
      }
      if (!t->existed) continue;
      for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = ".zrold-" + RandomSuffix();
        if (Ops().LinkAt(t->folderFd, t->file.c_str(), t->folderFd, name.c_str()) == 0) {
          t->backup = name;
          break;
        }
        if (errno != EEXIST) break;
      }
    }
    for (std::size_t i = 0; i < ready.size(); ++i) {
      Target& t = *ready[i];
      if (Ops().RenameAt(t.folderFd, t.temp.c_str(), t.folderFd, t.file.c_str()) != 0) {
        const int e = errno;
        for (std::size_t k = i; k-- > 0;) Undo(*ready[k]);
        throw rt::ErrorFromErrno(e, "「" + t.label + "」を置き換えられません: " + DisplayPath(t));
      }
      t.temp.clear();
    }
    committed_ = true;
    for (Target* t : ready) DropBackup(*t);
    // The renames and any new folders reach the disk before we report success.
    std::vector<std::pair<int, std::string>> folders;
    auto add = [&](int fd, const std::string& shown) {
      if (std::none_of(folders.begin(), folders.end(), [fd](const auto& f) { return f.first == fd; })) {
        folders.emplace_back(fd, shown);
      }
    };
    for (const auto& [parent, name] : created_) add(parent, destination_);
    for (Target* t : ready) add(t->folderFd, DisplayPath(*t));
    for (const auto& [fd, shown] : folders) {
      if (Ops().Fsync(fd) != 0) {
        throw rt::ErrorFromErrno(errno, "展開したファイルをディスクに書き込めません: " + shown);
      }
    }
  }

 private:
  std::string Where(const std::string& relative) const {
    std::string s = destination_;
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s.append("/").append(relative);
  }

  void Undo(Target& t) {
    if (!t.backup.empty()) {
      if (Ops().RenameAt(t.folderFd, t.backup.c_str(), t.folderFd, t.file.c_str()) == 0) t.backup.clear();
    } else if (!t.existed) {
      Ops().UnlinkAt(t.folderFd, t.file.c_str(), 0);
    }
  }

  void DropBackup(Target& t) {
    if (!t.backup.empty()) Ops().UnlinkAt(t.folderFd, t.backup.c_str(), 0);
    t.backup.clear();
  }

  void Discard() {
    for (Target* t : targets_) {
      if (!t->temp.empty()) Ops().UnlinkAt(t->folderFd, t->temp.c_str(), 0);
      t->temp.clear();
      DropBackup(*t);
    }
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
      Ops().UnlinkAt(it->first, it->second.c_str(), AT_REMOVEDIR);
    }
  }

  int destinationFd_;
  std::string destination_;
  std::vector<Target*> targets_;
  std::map<std::string, int> folders_;
  std::vector<std::pair<int, std::string>> created_;
  bool committed_ = false;
};

// -------------------------------------------------------------- extraction

bool Decodable(const std::string& method) {
  return method == "-lh0-" || method == "-lz4-" || method == "-lh5-" || method == "-lh6-" || method == "-lh7-";
}

void WriteAll(int fd, const void* data, std::size_t size, const Target& t, const Staging& staging) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = Ops().Write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw rt::ErrorFromErrno(errno, "「" + t.label + "」を書き込めません: " + staging.DisplayPath(t));
    }
    if (n == 0) throw rt::ErrorFromErrno(EIO, "「" + t.label + "」を書き込めません: " + staging.DisplayPath(t));
    p += n;
    size -= static_cast<std::size_t>(n);
  }
}

class Extraction {
 public:
  Extraction(const std::string& archive, const std::string& destination, Mode mode,
             const std::vector<std::string>& members)
      : archive_(archive), destination_(destination) {
    if (destination.empty() || destination.front() != '/') {
      throw rt::RuntimeError(rt::err::InvalidProcedureCall,
                             "展開先のフォルダーが正しくありません。(" + destination + ")");
    }
    targets_.reserve(members.size());
    for (const std::string& name : members) {
      PathParts parts = SplitRequestedName(name);
      auto same =
          std::find_if(targets_.begin(), targets_.end(), [&](const Target& t) { return SamePath(t.member, parts); });
      if (same != targets_.end()) {
        ++same->requested;
        continue;
      }
      Target t;
      t.member = parts;
      t.file = parts.back();
      if (mode == Mode::KeepFolders) t.folder.assign(parts.begin(), parts.end() - 1);
      t.label = name;
      t.requested = 1;
      for (const Target& other : targets_) {
        PathParts a = other.folder, b = t.folder;
        a.push_back(other.file);
        b.push_back(t.file);
        if (SamePath(a, b)) {
          throw rt::RuntimeError(
              rt::err::InvalidProcedureCall,
              "「" + other.label + "」と「" + name + "」は同じファイルに展開されるため、同時には指定できません。");
        }
      }
      targets_.push_back(std::move(t));
    }
  }

  int Run() {
    ThreadUtf8Locale locale;
    Fd archiveFd(Ops().Open(archive_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY, 0));
    if (archiveFd.get() < 0) throw OpenError(errno);
    struct stat st {};
    if (Ops().Fstat(archiveFd.get(), &st) != 0) throw OpenError(errno);
    if (!S_ISREG(st.st_mode)) throw OpenError(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);

    Fd destinationFd(Ops().Open(destination_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (destinationFd.get() < 0) {
      if (errno == ENOENT || errno == ENOTDIR) {
        throw rt::RuntimeError(rt::err::PathNotFound, "展開先のフォルダーが見つかりません。(" + destination_ + ")");
      }
      throw rt::ErrorFromErrno(errno, "展開先のフォルダーを開けません: " + destination_);
    }

    Staging staging(destinationFd.get(), destination_);
    for (Target& t : targets_) staging.Register(t);
    ReadArchive(archiveFd.get(), static_cast<uint64_t>(st.st_size), staging);

    int missing = 0;
    for (const Target& t : targets_) {
      if (!t.found) missing += t.requested;
    }
    if (missing > 0) return missing;  // the staging's destructor takes back what was written
    staging.Commit();
    return 0;
  }

 private:
  rt::RuntimeError OpenError(int errnum) const {
    if (errnum == ENOENT) {
      return rt::RuntimeError(rt::err::FileNotFound, "バックアップファイルが見つかりません。(" + archive_ + ")");
    }
    if (errnum == ENOTDIR) {
      return rt::RuntimeError(rt::err::PathNotFound,
                              "バックアップファイルのフォルダーが見つかりません。(" + archive_ + ")");
    }
    if (errnum == EISDIR || errnum == EINVAL) {
      return rt::RuntimeError(rt::err::PathFileAccess, "バックアップファイルではありません。(" + archive_ + ")");
    }
    return rt::ErrorFromErrno(errnum, "バックアップファイルを開けません: " + archive_);
  }

  rt::RuntimeError ReaderError(const ArchiveSource& source, const std::string& fallback) const {
    if (source.failure()) return *source.failure();
    return ArchiveDamaged(archive_, fallback);
  }

  void ReadArchive(int fd, uint64_t size, Staging& staging) {
    // A lone end mark is an archive without members; libarchive needs a
    // header to recognise the format at all.
    if (size == 0) throw ArchiveDamaged(archive_, FaultText(HeaderFault::NotLzh));
    uint8_t first = 0;
    const ssize_t n = Ops().Pread(fd, &first, 1, 0);
    if (n < 0) throw rt::ErrorFromErrno(errno, "バックアップファイルを読み込めません: " + archive_);
    if (n == 1 && first == 0) return;

    ArchiveSource source(fd, size, archive_);
    ArchivePtr a(archive_read_new());
    if (!a) throw rt::RuntimeError(rt::err::OutOfMemory, "メモリが不足しています。");
    archive_read_support_format_lha(a.get());
    // Names reach libarchive as Latin-1, which converts every byte; we decode
    // the real code page from our own parse, so no name can stop the walk.
    if (archive_read_set_format_option(a.get(), "lha", "hdrcharset", "ISO-8859-1") != ARCHIVE_OK) {
      throw rt::RuntimeError(rt::err::Internal, "LZHの読み込みを準備できません。");
    }
    if (archive_read_open2(a.get(), &source, nullptr, ArchiveSource::Read, ArchiveSource::Skip, nullptr) !=
        ARCHIVE_OK) {
      throw ReaderError(source, FaultText(HeaderFault::NotLzh));
    }
    NameDecoder names;
    for (;;) {
      struct archive_entry* entry = nullptr;
      const int r = archive_read_next_header(a.get(), &entry);
      if (r == ARCHIVE_EOF) {
        // libarchive takes a failed read where a header should start for
        // the end of the archive.
        if (source.failure()) throw *source.failure();
        break;
      }
      if (r != ARCHIVE_OK) throw ReaderError(source, FaultText(HeaderFault::BadLayout));
      const auto& parsed = source.last();
      if (!parsed || archive_read_header_position(a.get()) != static_cast<la_int64_t>(parsed->position) ||
          archive_filter_bytes(a.get(), 0) != static_cast<la_int64_t>(parsed->position + parsed->header.span)) {
#ifdef ZR_LZH_FUZZING
        __builtin_trap();  // our reading and libarchive's must never part ways
#endif
        throw ArchiveDamaged(archive_, FaultText(HeaderFault::BadLayout));
      }
      // A copy: reading this member's last bytes may already bring in the next header.
      const MemberHeader header = parsed->header;
      if (header.directory || archive_entry_filetype(entry) != AE_IFREG) continue;
      const std::optional<PathParts> stored = names.Decode(header);
      if (!stored) continue;
      auto target =
          std::find_if(targets_.begin(), targets_.end(), [&](const Target& t) { return SamePath(t.member, *stored); });
      if (target == targets_.end()) continue;
      Extract(a.get(), source, header, *target, staging);
    }
  }

  void Extract(struct archive* a, const ArchiveSource& source, const MemberHeader& header, Target& t,
               Staging& staging) {
    if (!Decodable(header.method)) {
      throw rt::RuntimeError(rt::err::BadFileFormat, "バックアップファイル内の「" + t.label +
                                                         "」は対応していない圧縮方式(" + header.method +
                                                         ")で格納されています。(" + archive_ + ")");
    }
    if (header.originalSize > kMaxMemberBytes) throw MemberDamaged(archive_, t.label, "格納サイズが大きすぎます");
    std::string tempName;
    Fd file = staging.CreateTemp(t, tempName);
    const int folderFd = t.folderFd;
    struct TempGuard {
      int folder;
      const std::string& name;
      bool keep = false;
      ~TempGuard() {
        if (!keep) Ops().UnlinkAt(folder, name.c_str(), 0);
      }
    } guard{folderFd, tempName};

    int64_t produced = 0;
    uint16_t crc = 0;
    for (;;) {
      const void* data = nullptr;
      std::size_t size = 0;
      la_int64_t offset = 0;
      const int r = archive_read_data_block(a, &data, &size, &offset);
      if (r == ARCHIVE_EOF) break;
      if (r != ARCHIVE_OK) {
        if (source.failure()) throw *source.failure();
        throw MemberDamaged(archive_, t.label,
                            r == ARCHIVE_WARN     ? "データのCRCが一致しません"
                            : r == ARCHIVE_FAILED ? "圧縮データが正しくありません"
                                                  : "データが途中で切れています");
      }
      if (offset != produced) throw MemberDamaged(archive_, t.label, "データの並びが正しくありません");
      if (static_cast<int64_t>(size) > header.originalSize - produced) {
        throw MemberDamaged(archive_, t.label, "展開したデータが格納サイズを超えています");
      }
      crc = Crc16(crc, data, size);
      WriteAll(file.get(), data, size, t, staging);
      produced += static_cast<int64_t>(size);
    }
    if (produced != header.originalSize)
      throw MemberDamaged(archive_, t.label, "データの長さが格納サイズと一致しません");
    if (crc != header.dataCrc) throw MemberDamaged(archive_, t.label, "データのCRCが一致しません");
    if (Ops().Fsync(file.get()) != 0) {
      throw rt::ErrorFromErrno(errno, "「" + t.label + "」をディスクに書き込めません: " + staging.DisplayPath(t));
    }
    if (Ops().Close(file.Release()) != 0) {
      throw rt::ErrorFromErrno(errno, "「" + t.label + "」を書き込めません: " + staging.DisplayPath(t));
    }
    guard.keep = true;
    staging.Adopt(t, tempName);
  }

  const std::string& archive_;
  const std::string& destination_;
  std::vector<Target> targets_;
};

}  // namespace

int ExtractMembers(const std::string& archivePath, const std::string& destination, Mode mode,
                   const std::vector<std::string>& members) {
  return Extraction(archivePath, destination, mode, members).Run();
}

int ExtractMembersWaiting(const std::string& archivePath, const std::string& destination, Mode mode,
                          const std::vector<std::string>& members) {
  struct Shared {
    std::atomic<bool> done{false};
    int result = 0;
    std::exception_ptr error;
  };
  auto shared = std::make_shared<Shared>();
  std::thread worker([shared, archivePath, destination, mode, members] {
    try {
      shared->result = ExtractMembers(archivePath, destination, mode, members);
    } catch (...) {
      shared->error = std::current_exception();
    }
    shared->done.store(true, std::memory_order_release);
  });
  try {
    rt::WaitUntil([shared] { return shared->done.load(std::memory_order_acquire); });
  } catch (...) {
    worker.join();
    throw;
  }
  worker.join();
  if (shared->error) std::rethrow_exception(shared->error);
  return shared->result;
}

}  // namespace zr::lzh
