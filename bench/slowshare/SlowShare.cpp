// A read-only view of one folder that behaves like a slow network share:
// every read pays a round trip and all reads share one bandwidth, nothing is
// cached by the kernel (every read the client makes reaches this program),
// and only regular files and folders are shown. Reading /.slowshare at the
// mount's root hands over what was served since it was last read (it is not
// counted itself). Runs in the foreground, multi-threaded, until unmounted.
//
// Usage: zr-slow-share [--round-trip-us N] [--bytes-per-second N] SOURCE MOUNTPOINT [FUSE OPTION...]
#define FUSE_USE_VERSION 35
#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ShareCounters.h"
#include "ShareLink.h"

namespace slowshare {
namespace {

constexpr const char* kReportPath = "/.slowshare";

struct Share {
  std::string source;
  std::unique_ptr<ShareLink> link;
  ShareCounters counters;
};
Share* share = nullptr;

// One open file: a descriptor on the source, or the report taken at open.
struct Handle {
  int fd = -1;
  std::string report;
};

std::string SourcePath(const char* path) { return share->source + path; }
bool IsReport(const char* path) { return std::strcmp(path, kReportPath) == 0; }
Handle* HandleOf(fuse_file_info* fi) { return reinterpret_cast<Handle*>(static_cast<uintptr_t>(fi->fh)); }

void* Init(fuse_conn_info*, fuse_config* cfg) {
  cfg->use_ino = 1;
  cfg->direct_io = 1;
  cfg->kernel_cache = 0;
  cfg->auto_cache = 0;
  cfg->entry_timeout = 0;
  cfg->attr_timeout = 0;
  cfg->negative_timeout = 0;
  return nullptr;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
  if (IsReport(path)) {
    *st = {};
    st->st_mode = S_IFREG | 0444;
    st->st_nlink = 1;
    return 0;
  }
  share->counters.Looked();
  if (lstat(SourcePath(path).c_str(), st) != 0) return -errno;
  if (!S_ISREG(st->st_mode) && !S_ISDIR(st->st_mode)) return -ENOENT;
  st->st_mode &= ~static_cast<mode_t>(0222);
  return 0;
}

bool Shown(int dirFd, const dirent* entry) {
  if (entry->d_type == DT_REG || entry->d_type == DT_DIR) return true;
  if (entry->d_type != DT_UNKNOWN) return false;
  struct stat st {};
  return fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode));
}

int ReadDir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
  share->counters.Listed();
  DIR* dir = opendir(SourcePath(path).c_str());
  if (dir == nullptr) return -errno;
  while (const dirent* entry = readdir(dir)) {
    if (Shown(dirfd(dir), entry)) fill(buf, entry->d_name, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  }
  closedir(dir);
  return 0;
}

int Open(const char* path, fuse_file_info* fi) {
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  auto handle = std::make_unique<Handle>();
  if (IsReport(path)) {
    handle->report = share->counters.TakeReport();
  } else {
    share->counters.Opened();
    handle->fd = open(SourcePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (handle->fd < 0) return -errno;
  }
  fi->direct_io = 1;
  fi->keep_cache = 0;
  fi->fh = reinterpret_cast<uintptr_t>(handle.release());
  return 0;
}

int ReadReport(const std::string& report, char* buf, size_t size, off_t offset) {
  if (offset < 0 || static_cast<size_t>(offset) >= report.size()) return 0;
  const size_t n = std::min(size, report.size() - static_cast<size_t>(offset));
  std::memcpy(buf, report.data() + offset, n);
  return static_cast<int>(n);
}

int Read(const char*, char* buf, size_t size, off_t offset, fuse_file_info* fi) {
  const Handle* handle = HandleOf(fi);
  if (handle->fd < 0) return ReadReport(handle->report, buf, size, offset);
  const auto arrival = ShareLink::Clock::now();
  share->counters.ReadBegun();
  size_t got = 0;
  while (got < size) {
    const ssize_t n = pread(handle->fd, buf + got, size - got, offset + static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      share->counters.ReadDone(0);
      return -error;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  std::this_thread::sleep_until(share->link->Deliver(arrival, got));
  share->counters.ReadDone(got);
  return static_cast<int>(got);
}

int Release(const char*, fuse_file_info* fi) {
  std::unique_ptr<Handle> handle(HandleOf(fi));
  if (handle->fd >= 0) close(handle->fd);
  return 0;
}

int StatFs(const char* path, struct statvfs* st) { return statvfs(SourcePath(path).c_str(), st) == 0 ? 0 : -errno; }

fuse_operations Operations() {
  fuse_operations ops{};
  ops.init = Init;
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.open = Open;
  ops.read = Read;
  ops.release = Release;
  ops.statfs = StatFs;
  return ops;
}

int Usage() {
  std::fprintf(stderr,
               "usage: zr-slow-share [--round-trip-us N] [--bytes-per-second N] SOURCE MOUNTPOINT [FUSE OPTION...]\n");
  return 2;
}

// Mounts and serves until unmounted or signalled, with enough threads that
// every read the client has on its way is served at once.
int Serve(std::vector<char*> argv) {
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());
  fuse_cmdline_opts opts{};
  if (fuse_parse_cmdline(&args, &opts) != 0 || opts.mountpoint == nullptr) return Usage();
  const fuse_operations ops = Operations();
  int status = 1;
  if (fuse* fs = fuse_new(&args, &ops, sizeof ops, nullptr)) {
    if (fuse_mount(fs, opts.mountpoint) == 0) {
      if (fuse_set_signal_handlers(fuse_get_session(fs)) == 0) {
        fuse_loop_config* loop = fuse_loop_cfg_create();
        fuse_loop_cfg_set_max_threads(loop, 32);
        status = fuse_loop_mt(fs, loop) == 0 ? 0 : 1;
        fuse_loop_cfg_destroy(loop);
        fuse_remove_signal_handlers(fuse_get_session(fs));
      }
      fuse_unmount(fs);
    }
    fuse_destroy(fs);
  }
  std::free(opts.mountpoint);
  fuse_opt_free_args(&args);
  return status;
}

}  // namespace
}  // namespace slowshare

int main(int argc, char** argv) {
  using namespace slowshare;
  long long roundTripUs = 1000;
  double bytesPerSecond = 11e6;
  int i = 1;
  for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
    if (std::strcmp(argv[i], "--round-trip-us") == 0) {
      roundTripUs = std::atoll(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--bytes-per-second") == 0) {
      bytesPerSecond = std::atof(argv[i + 1]);
    } else {
      return Usage();
    }
  }
  if (argc - i < 2 || roundTripUs < 0 || !(bytesPerSecond > 0)) return Usage();
  char resolved[PATH_MAX];
  if (realpath(argv[i], resolved) == nullptr) {
    std::perror(argv[i]);
    return 1;
  }

  // The threads the loop starts inherit this: a read's wait ends when it
  // should, not up to the default 50 us later.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

  Share state;
  state.source = std::string(resolved) == "/" ? "" : resolved;
  state.link = std::make_unique<ShareLink>(std::chrono::microseconds(roundTripUs), bytesPerSecond);
  share = &state;

  std::vector<char*> fuseArgs{argv[0], argv[i + 1], const_cast<char*>("-o"),
                              const_cast<char*>("ro,default_permissions,fsname=slowshare,subtype=slowshare")};
  for (int k = i + 2; k < argc; ++k) fuseArgs.push_back(argv[k]);
  return Serve(fuseArgs);
}
