#pragma once

// One extraction of requested members, in two halves: staging verified copies, then putting them in place.
#include <sys/stat.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/lzh/ArchiveIndex.h"
#include "platform/lzh/Extract.h"
#include "platform/lzh/MemberName.h"
#include "platform/replace/Replacement.h"
#include "platform/runtime/UniqueFd.h"

namespace zr::lzh {

struct Target {
  PathParts member;                   // what to look for in the archive
  PathParts output;                   // where it goes under the destination, file name last
  std::string label;                  // the requested name as given, for messages
  int requested = 0;                  // list entries that name this member
  const IndexEntry* entry = nullptr;  // where the walk found it
  IndexedMember found;                // its header, read again from there
};

class Extraction {
 public:
  // With `givenFolder`, the extraction goes into that open folder (never
  // opened again by its name) and keeps a readable descriptor of each copy.
  Extraction(const std::string& archive, const std::string& destination, Mode mode,
             const std::vector<std::string>& members, const ExtractOptions& options, int givenFolder = -1);
  Extraction(const Extraction&) = delete;
  Extraction& operator=(const Extraction&) = delete;
  // A given folder outlives the extraction: its lock is let go here, once
  // the replacement has cleaned up under it.
  ~Extraction();

  int Run();

  // Everything short of replacing: the members found, decoded into staged
  // copies, verified and closed. Returns the number of requested members the
  // archive lacks; nothing is staged unless that is 0. Without `waitForFolder`
  // a folder another extraction holds is FolderBusy.
  int Prepare(bool waitForFolder);

  // Puts the prepared copies in place, all or none.
  void Commit();

  // The readable descriptors of the copies Run put in place.
  std::vector<rt::UniqueFd> TakeReadable() { return std::move(readable_); }

  // Ends a Prepare under way on another thread soon (DecodeStopped there).
  void Cancel() { stop_.store(true, std::memory_order_relaxed); }

  // Begun ahead: all but the largest member wait while a foreground
  // extraction decodes (ForegroundWork).
  void GiveWayToForeground() { aheadOfForeground_ = true; }

  bool SameRequest(const std::string& archive, const std::string& destination, Mode mode,
                   const std::vector<std::string>& members, const ExtractOptions& options) const;

  // The file at the archive's path is still the one Prepare decoded.
  bool ArchiveUnchanged() const;

 private:
  uint64_t OpenArchive();
  int TakeDestination(bool waitForFolder);
  int FindTargets(uint64_t size, bool& read);
  void Stage(int folder, uint64_t size);
  void DecodeAll(int archiveFd, uint64_t size, const replace::Replacement& replacement,
                 const std::vector<rt::UniqueFd>& copies);

  std::string archive_;
  std::string destination_;
  Mode mode_;
  std::vector<std::string> members_;
  ExtractOptions options_;
  int givenFolder_ = -1;
  bool lockedGiven_ = false;
  std::vector<Target> targets_;
  // Declared before the replacement, which uses the folder while it lives.
  rt::UniqueFd archiveFd_;
  rt::UniqueFd destinationFd_;
  struct stat archiveStat_ {};
  std::shared_ptr<const MemberIndex> index_;
  std::unique_ptr<replace::Replacement> replacement_;
  std::vector<rt::UniqueFd> readable_;
  std::atomic<bool> stop_{false};
  bool aheadOfForeground_ = false;
};

}  // namespace zr::lzh
