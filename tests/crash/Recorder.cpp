#include "tests/crash/Recorder.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace zr::crash {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string ReadAll(int fd) {
  std::string out;
  char buffer[1 << 16];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
    at += n;
  }
  return out;
}

std::vector<std::string> NamesIn(int folderFd) {
  std::vector<std::string> names;
  const int copy = ::openat(folderFd, ".", kFolderFlags);
  if (copy < 0) return names;
  DIR* dir = fdopendir(copy);
  if (dir == nullptr) {
    ::close(copy);
    return names;
  }
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::Create:
      return "create";
    case Kind::Mkdir:
      return "mkdir";
    case Kind::Link:
      return "link";
    case Kind::Rename:
      return "rename";
    case Kind::Unlink:
      return "unlink";
    case Kind::Write:
      return "write";
    case Kind::Chmod:
      return "fchmod";
    case Kind::FsyncFile:
      return "fsync";
    case Kind::FsyncFolder:
      return "fsync";
    case Kind::Close:
      return "close";
  }
  return "?";
}

std::string PathOf(int fd) {
  if (fd == AT_FDCWD) {
    char cwd[4096];
    return ::getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?";
  }
  char buffer[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "?";
}

Recorder::Recorder(const std::filesystem::path& anchor, std::vector<std::string> roots,
                   const std::filesystem::path& pool)
    : pool_(pool) {
  std::filesystem::create_directories(pool_);
  anchorFd_ = ::open(anchor.c_str(), kFolderFlags);
  struct stat st {};
  if (anchorFd_ < 0 || ::fstat(anchorFd_, &st) != 0) throw std::runtime_error("no anchor " + anchor.string());
  rec_.anchor = st.st_ino;
  rec_.roots = std::move(roots);
  for (const std::string& root : rec_.roots) {
    struct stat rs {};
    if (::fstatat(anchorFd_, root.c_str(), &rs, AT_SYMLINK_NOFOLLOW) != 0) continue;
    rec_.initialSlots[{rec_.anchor, root}] = rs.st_ino;
    const int fd = ::openat(anchorFd_, root.c_str(), kFolderFlags);
    if (fd < 0) throw std::runtime_error("root is not a folder: " + root);
    Snapshot(fd, rs.st_ino, 0);
    ::close(fd);
  }
}

Recorder::~Recorder() {
  for (int fd : pinned_) ::close(fd);
  if (anchorFd_ >= 0) ::close(anchorFd_);
}

void Recorder::AdoptFolder(int fd) {
  struct stat st {};
  ::fstat(fd, &st);
  if (!folders_.insert(st.st_ino).second) return;
  pinned_.push_back(::openat(fd, ".", kFolderFlags));
  Node node;
  node.folder = true;
  node.mode = st.st_mode & 07777;
  rec_.initialNodes.emplace(st.st_ino, node);
}

void Recorder::AdoptFile(int fd, const std::string& shown) {
  struct stat st {};
  ::fstat(fd, &st);
  if (!files_.insert(st.st_ino).second) return;
  const std::string name = (pool_ / std::to_string(st.st_ino)).string();
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) != 0 && errno != EEXIST) {
    rec_.unexpected.push_back("cannot keep " + shown + " in the pool");
  }
  Node node;
  node.content = ReadAll(fd);
  node.mtime = st.st_mtim;
  node.mode = st.st_mode & 07777;
  rec_.initialNodes.emplace(st.st_ino, node);
}

void Recorder::Snapshot(int folderFd, NodeId folder, int depth) {
  AdoptFolder(folderFd);
  for (const std::string& name : NamesIn(folderFd)) {
    struct stat st {};
    if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const std::string shown = PathOf(folderFd) + "/" + name;
    if (S_ISDIR(st.st_mode) && depth < 8) {
      rec_.initialSlots[{folder, name}] = st.st_ino;
      const int fd = ::openat(folderFd, name.c_str(), kFolderFlags);
      Snapshot(fd, st.st_ino, depth + 1);
      ::close(fd);
    } else if (S_ISREG(st.st_mode)) {
      rec_.initialSlots[{folder, name}] = st.st_ino;
      const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
      AdoptFile(fd, shown);
      ::close(fd);
    } else {
      rec_.unexpected.push_back("neither file nor folder: " + shown);
    }
  }
}

Recording Recorder::Take() {
  std::lock_guard lock(mutex_);
  return rec_;
}

Recorder::Place Recorder::PlaceOf(int dirFd, const char* name) {
  Place place;
  std::string folderPath;
  std::string base = name;
  struct stat st {};
  if (dirFd == AT_FDCWD || name[0] == '/') {
    const std::filesystem::path p(name);
    folderPath = p.parent_path().string();
    base = p.filename().string();
    if (::stat(folderPath.empty() ? "." : folderPath.c_str(), &st) != 0) return place;
  } else {
    folderPath = PathOf(dirFd);
    if (::fstat(dirFd, &st) != 0) return place;
  }
  place.slot = {st.st_ino, base};
  place.shown = folderPath + "/" + base;
  place.ok = true;
  return place;
}

bool Recorder::InScope(const Slot& slot) const {
  if (slot.folder == rec_.anchor) {
    return std::find(rec_.roots.begin(), rec_.roots.end(), slot.name) != rec_.roots.end();
  }
  return folders_.count(slot.folder) != 0;
}

int Recorder::Open(const char* path, int flags, mode_t mode) { return OpenAt(AT_FDCWD, path, flags, mode); }

int Recorder::OpenAt(int dirFd, const char* name, int flags, mode_t mode) {
  if ((flags & (O_CREAT | O_TRUNC)) == 0) return FileOps::OpenAt(dirFd, name, flags, mode);
  std::lock_guard lock(mutex_);
  const Place place = PlaceOf(dirFd, name);
  struct stat before {};
  const bool existed = ::fstatat(dirFd, name, &before, AT_SYMLINK_NOFOLLOW) == 0;
  const int fd = FileOps::OpenAt(dirFd, name, flags, mode);
  if (fd < 0 || !place.ok || !InScope(place.slot)) return fd;
  if (existed) {
    // Opening changes nothing; emptying would need a step the model lacks.
    if ((flags & O_TRUNC) != 0) rec_.unexpected.push_back("emptied on opening: " + place.shown);
    rec_.openedExisting.push_back(place.shown);
    return fd;
  }
  AdoptFile(fd, place.shown);
  struct stat st {};
  ::fstat(fd, &st);
  Step step;
  step.kind = Kind::Create;
  step.slot = place.slot;
  step.node = st.st_ino;
  step.mtime = st.st_mtim;
  step.mode = st.st_mode & 07777;
  step.shown = place.shown;
  rec_.initialNodes[st.st_ino].content.clear();
  rec_.steps.push_back(std::move(step));
  return fd;
}

int Recorder::Close(int fd) {
  std::lock_guard lock(mutex_);
  struct stat st {};
  const bool tracked = ::fstat(fd, &st) == 0 && (files_.count(st.st_ino) != 0 || folders_.count(st.st_ino) != 0);
  const std::string shown = tracked ? PathOf(fd) : std::string();
  const int r = FileOps::Close(fd);
  if (tracked) {
    Step step;
    step.kind = Kind::Close;
    step.node = st.st_ino;
    step.shown = shown;
    rec_.steps.push_back(std::move(step));
  }
  return r;
}

ssize_t Recorder::Write(int fd, const void* buffer, std::size_t count) {
  std::lock_guard lock(mutex_);
  struct stat st {};
  const bool tracked = ::fstat(fd, &st) == 0 && files_.count(st.st_ino) != 0;
  const off_t offset = tracked ? ::lseek(fd, 0, SEEK_CUR) : 0;
  const ssize_t n = FileOps::Write(fd, buffer, count);
  if (tracked && n > 0) {
    Step step;
    step.kind = Kind::Write;
    step.node = st.st_ino;
    step.offset = offset;
    step.bytes.assign(static_cast<const char*>(buffer), static_cast<std::size_t>(n));
    ::fstat(fd, &st);
    step.mtime = st.st_mtim;
    step.shown = PathOf(fd);
    rec_.steps.push_back(std::move(step));
  }
  return n;
}

int Recorder::Fchmod(int fd, mode_t mode) {
  std::lock_guard lock(mutex_);
  const int r = FileOps::Fchmod(fd, mode);
  struct stat st {};
  if (r == 0 && ::fstat(fd, &st) == 0 && files_.count(st.st_ino) != 0) {
    Step step;
    step.kind = Kind::Chmod;
    step.node = st.st_ino;
    step.mode = mode & 07777;
    step.shown = PathOf(fd);
    rec_.steps.push_back(std::move(step));
  }
  return r;
}

int Recorder::Fsync(int fd) {
  std::lock_guard lock(mutex_);
  const int r = syncForReal ? FileOps::Fsync(fd) : 0;
  struct stat st {};
  if (r != 0 || ::fstat(fd, &st) != 0) return r;
  const bool folder = S_ISDIR(st.st_mode);
  if (folder ? (folders_.count(st.st_ino) != 0 || st.st_ino == rec_.anchor) : files_.count(st.st_ino) != 0) {
    Step step;
    step.kind = folder ? Kind::FsyncFolder : Kind::FsyncFile;
    step.node = st.st_ino;
    step.shown = PathOf(fd);
    rec_.steps.push_back(std::move(step));
  }
  return r;
}

int Recorder::MkdirAt(int dirFd, const char* name, mode_t mode) {
  std::lock_guard lock(mutex_);
  const Place place = PlaceOf(dirFd, name);
  const int r = FileOps::MkdirAt(dirFd, name, mode);
  if (r != 0 || !place.ok || !InScope(place.slot)) return r;
  const int fd = ::openat(dirFd, name, kFolderFlags);
  AdoptFolder(fd);
  struct stat st {};
  ::fstat(fd, &st);
  ::close(fd);
  Step step;
  step.kind = Kind::Mkdir;
  step.slot = place.slot;
  step.node = st.st_ino;
  step.shown = place.shown;
  rec_.steps.push_back(std::move(step));
  return r;
}

int Recorder::LinkAt(int fromDir, const char* from, int toDir, const char* to) {
  std::lock_guard lock(mutex_);
  const Place target = PlaceOf(toDir, to);
  const int r = FileOps::LinkAt(fromDir, from, toDir, to);
  if (r != 0 || !target.ok || !InScope(target.slot)) return r;
  const int fd = ::openat(toDir, to, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  AdoptFile(fd, target.shown);
  struct stat st {};
  ::fstat(fd, &st);
  ::close(fd);
  Step step;
  step.kind = Kind::Link;
  step.slot = target.slot;
  step.node = st.st_ino;
  step.shown = PathOf(fromDir) + "/" + from + " -> " + target.shown;
  rec_.steps.push_back(std::move(step));
  return r;
}

int Recorder::RenameAt(int fromDir, const char* from, int toDir, const char* to) {
  std::lock_guard lock(mutex_);
  const Place source = PlaceOf(fromDir, from);
  const Place target = PlaceOf(toDir, to);
  struct stat st {};
  const bool there = ::fstatat(fromDir, from, &st, AT_SYMLINK_NOFOLLOW) == 0;
  const int r = FileOps::RenameAt(fromDir, from, toDir, to);
  if (r != 0 || !there || !source.ok || !target.ok) return r;
  const bool fromIn = InScope(source.slot);
  const bool toIn = InScope(target.slot);
  if (!fromIn && !toIn) return r;
  if (fromIn != toIn) {
    rec_.unexpected.push_back("renamed across the edge of the recorded folders: " + source.shown + " -> " +
                              target.shown);
    return r;
  }
  Step step;
  step.kind = Kind::Rename;
  step.slot = source.slot;
  step.to = target.slot;
  step.node = st.st_ino;
  step.shown = source.shown + " -> " + target.shown;
  rec_.steps.push_back(std::move(step));
  return r;
}

int Recorder::UnlinkAt(int dirFd, const char* name, int flags) {
  std::lock_guard lock(mutex_);
  const Place place = PlaceOf(dirFd, name);
  struct stat st {};
  const bool there = ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
  const int r = FileOps::UnlinkAt(dirFd, name, flags);
  if (r != 0 || !there || !place.ok || !InScope(place.slot)) return r;
  Step step;
  step.kind = Kind::Unlink;
  step.slot = place.slot;
  step.node = st.st_ino;
  step.shown = place.shown;
  rec_.steps.push_back(std::move(step));
  return r;
}

}  // namespace zr::crash
