#pragma once

// Records what the program does to a set of folders, through the one seam
// every file-system call takes, so that crash states can be built from it.
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/runtime/FileOps.h"

namespace zr::crash {

// Files and folders are told apart by inode number: a folder renamed (a
// pending history entry that commits) keeps its files.
using NodeId = uint64_t;

// A name in a folder.
struct Slot {
  NodeId folder = 0;
  std::string name;
  auto operator<=>(const Slot&) const = default;
};

enum class Kind { Create, Mkdir, Link, Rename, Unlink, Write, Chmod, FsyncFile, FsyncFolder, Close };
const char* KindName(Kind kind);

struct Step {
  Kind kind = Kind::Close;
  Slot slot;          // the name made, removed, linked, or renamed from
  Slot to;            // Rename: the name it gets
  NodeId node = 0;    // the file or folder it concerns
  off_t offset = 0;   // Write
  std::string bytes;  // Write
  timespec mtime{};   // Create, Write: the file's modification time afterwards
  mode_t mode = 0;    // Create, Chmod
  std::string shown;  // paths, for messages and the comparison with strace
};

struct Node {
  bool folder = false;
  std::string content;
  timespec mtime{};
  mode_t mode = 0600;
};

// What the folders held at the start, and every change after, in order.
struct Recording {
  NodeId anchor = 0;                    // the folder the roots are named in
  std::vector<std::string> roots;       // the names under the anchor that are ours to rebuild
  std::map<Slot, NodeId> initialSlots;  // every name under the roots at the start
  std::map<NodeId, Node> initialNodes;  // every file and folder then, and files adopted later
  std::vector<Step> steps;
  std::vector<std::string> unexpected;      // calls the model cannot follow; a test fails on any
  std::vector<std::string> openedExisting;  // opened to create, but there already: no change
};

// The file operations in force while it is installed, recording what they
// change under `anchor`/`root` for each root (which may not exist yet).
// Every file it sees gets a second name in `pool` (same file system), so its
// inode number outlives the run: the program's intent records name files by
// identity, and a rebuilt state must show the same identities.
class Recorder : public rt::FileOps {
 public:
  Recorder(const std::filesystem::path& anchor, std::vector<std::string> roots, const std::filesystem::path& pool);
  ~Recorder() override;
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // The model decides durability; the real flush only costs time.
  bool syncForReal = true;

  Recording Take();

  int Open(const char* path, int flags, mode_t mode) override;
  int OpenAt(int dirFd, const char* name, int flags, mode_t mode) override;
  int Close(int fd) override;
  ssize_t Write(int fd, const void* buffer, std::size_t count) override;
  int Fchmod(int fd, mode_t mode) override;
  int Fsync(int fd) override;
  int MkdirAt(int dirFd, const char* name, mode_t mode) override;
  int LinkAt(int fromDir, const char* from, int toDir, const char* to) override;
  int RenameAt(int fromDir, const char* from, int toDir, const char* to) override;
  int UnlinkAt(int dirFd, const char* name, int flags) override;

 private:
  struct Place {
    Slot slot;
    std::string shown;
    bool ok = false;
  };
  Place PlaceOf(int dirFd, const char* name);
  bool InScope(const Slot& slot) const;
  void Snapshot(int folderFd, NodeId folder, int depth);
  void AdoptFile(int fd, const std::string& shown);
  void AdoptFolder(int fd);

  std::mutex mutex_;
  std::filesystem::path pool_;
  int anchorFd_ = -1;
  Recording rec_;
  std::set<NodeId> folders_;  // tracked folders
  std::set<NodeId> files_;    // tracked files
  std::vector<int> pinned_;   // folders kept open so their inode numbers are not reused
};

// Resolves a descriptor to the path it stands for.
std::string PathOf(int fd);

}  // namespace zr::crash
