// The process-wide extraction begun ahead: at most one, prepared on its own thread, until a call takes or drops it.
#include "platform/lzh/ReadAhead.h"

#include <sys/stat.h>

#include <memory>
#include <mutex>
#include <thread>

#include "platform/lzh/Extraction.h"

namespace zr::lzh {
namespace {

// An extraction prepared on a thread of its own, ahead of the call that will
// ask for it.
struct ReadAhead {
  std::unique_ptr<Extraction> extraction;
  bool folderKnown = false;
  dev_t folderDevice = 0;
  ino_t folderInode = 0;
  std::thread worker;
  bool prepared = false;  // written by the worker, read after joining it
  int missing = 0;

  ~ReadAhead() {
    if (extraction) extraction->Cancel();
    if (worker.joinable()) worker.join();
  }
  bool IntoFolder(const std::string& folder) const {
    struct stat st {};
    return stat(folder.c_str(), &st) == 0 && IntoFolder(st);
  }
  bool IntoFolder(const struct stat& folder) const {
    return folderKnown && folder.st_dev == folderDevice && folder.st_ino == folderInode;
  }
};

std::mutex aheadMutex;
// Never destroyed: one still pending at exit is left to the next recovery.
std::unique_ptr<ReadAhead>& Pending() {
  static auto* pending = new std::unique_ptr<ReadAhead>();
  return *pending;
}

std::unique_ptr<ReadAhead> TakeReadAhead() {
  std::lock_guard lock(aheadMutex);
  return std::move(Pending());
}

}  // namespace

bool CommitReadAhead(const std::string& archivePath, const std::string& destination, Mode mode,
                     const std::vector<std::string>& members, const ExtractOptions& options) {
  if (std::unique_ptr<ReadAhead> ahead = TakeReadAhead()) {
    if (ahead->extraction->SameRequest(archivePath, destination, mode, members, options)) {
      ahead->worker.join();
      if (ahead->prepared && ahead->missing == 0 && ahead->extraction->ArchiveUnchanged()) {
        ahead->extraction->Commit();
        return true;
      }
      // Whatever kept it from being ready, a fresh extraction meets and reports it.
    } else if (!ahead->IntoFolder(destination)) {
      std::lock_guard lock(aheadMutex);
      if (!Pending()) Pending() = std::move(ahead);
    }
    // Dropped here: its copies go and its hold on the folder with them.
  }
  return false;
}

void DropReadAheadInto(const struct stat& folder) {
  if (std::unique_ptr<ReadAhead> ahead = TakeReadAhead(); ahead && !ahead->IntoFolder(folder)) {
    std::lock_guard lock(aheadMutex);
    if (!Pending()) Pending() = std::move(ahead);
  }
}

void ReadAheadMembers(const std::string& archivePath, const std::string& destination, Mode mode,
                      const std::vector<std::string>& members, const ExtractOptions& options) {
  DropReadAhead();
  auto ahead = std::make_unique<ReadAhead>();
  ahead->extraction = std::make_unique<Extraction>(archivePath, destination, mode, members, options);
  ahead->extraction->GiveWayToForeground();
  struct stat st {};
  if (stat(destination.c_str(), &st) == 0) {
    ahead->folderKnown = true;
    ahead->folderDevice = st.st_dev;
    ahead->folderInode = st.st_ino;
  }
  ReadAhead* job = ahead.get();
  ahead->worker = std::thread([job] {
    try {
      job->missing = job->extraction->Prepare(false);
      job->prepared = true;
    } catch (...) {
    }
  });
  std::lock_guard lock(aheadMutex);
  Pending() = std::move(ahead);
}

void DropReadAhead() { TakeReadAhead().reset(); }

}  // namespace zr::lzh
