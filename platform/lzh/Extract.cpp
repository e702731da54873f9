// Extraction of requested members: find them in the archive, decode them side by side, replace the targets together.
#include "platform/lzh/Extract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>

#include "platform/lzh/ArchiveIndex.h"
#include "platform/lzh/DestinationFolder.h"
#include "platform/lzh/ErrorTexts.h"
#include "platform/lzh/Extraction.h"
#include "platform/lzh/ForegroundWork.h"
#include "platform/lzh/MemberDecoder.h"
#include "platform/lzh/MemberName.h"
#include "platform/lzh/ReadAhead.h"
#include "platform/replace/Replacement.h"
#include "platform/runtime/FileOps.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::lzh {
namespace {

std::vector<Target> TargetsFor(const std::vector<std::string>& members, Mode mode) {
  std::vector<Target> targets;
  targets.reserve(members.size());
  for (const std::string& name : members) {
    PathParts parts = SplitRequestedName(name);
    auto same =
        std::find_if(targets.begin(), targets.end(), [&](const Target& t) { return SamePath(t.member, parts); });
    if (same != targets.end()) {
      ++same->requested;
      continue;
    }
    Target t;
    t.member = parts;
    t.output = mode == Mode::KeepFolders ? parts : PathParts{parts.back()};
    t.label = name;
    t.requested = 1;
    for (const Target& other : targets) {
      if (SamePath(other.output, t.output)) {
        throw rt::RuntimeError(
            rt::err::InvalidProcedureCall,
            "「" + other.label + "」と「" + name + "」は同じファイルに展開されるため、同時には指定できません。");
      }
    }
    targets.push_back(std::move(t));
  }
  return targets;
}

// The last occurrence of each member counts, as when extracting in order.
int FindAll(std::vector<Target>& targets, const MemberIndex& index) {
  int missing = 0;
  for (Target& t : targets) {
    t.entry = nullptr;
    const uint64_t key = PathKey(t.member);
    for (auto m = index.rbegin(); m != index.rend() && t.entry == nullptr; ++m) {
      if (m->named && m->nameKey == key) t.entry = &*m;
    }
    if (t.entry == nullptr) missing += t.requested;
  }
  return missing;
}

// Reads each found member's header again. False when one no longer reads as
// the walk saw it: a remembered walk no longer describes the file. A fresh
// walk's failures are the errors they are.
bool ReadFound(int fd, uint64_t size, std::vector<Target>& targets, const std::string& archive, bool fresh) {
  std::vector<uint8_t> buffer;
  NameDecoder names;
  for (Target& t : targets) {
    IndexedMember& m = t.found;
    m = IndexedMember{};
    m.position = t.entry->position;
    m.regular = true;
    try {
      if (!ReadHeaderAt(fd, size, m.position, buffer, m.header, archive)) return false;
    } catch (const rt::RuntimeError&) {
      if (fresh) throw;
      return false;
    }
    if (!Describes(*t.entry, m.header)) return false;
    m.raw.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(m.header.span));
    // The walk only says where to look: what is there must be the member asked for.
    m.name = names.Decode(m.header);
    if (!m.name || !SamePath(t.member, *m.name)) return false;
  }
  return true;
}

// A second opening, for reading, of exactly the file `fd` is open on: through
// the descriptor's own entry, never through a name in the folder.
rt::UniqueFd ReadableCopy(int fd, const std::string& label, const std::string& shown) {
  const std::string failure = "「" + label + "」の展開したファイルを読み取り用に開けません: " + shown;
  struct stat written {};
  if (rt::Ops().Fstat(fd, &written) != 0) throw rt::ErrorFromErrno(errno, failure);
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  rt::UniqueFd readable = rt::OwnedFd(rt::Ops().Open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0));
  struct stat opened {};
  if (!readable.valid() || rt::Ops().Fstat(readable.get(), &opened) != 0) throw rt::ErrorFromErrno(errno, failure);
  if (opened.st_dev != written.st_dev || opened.st_ino != written.st_ino || !S_ISREG(opened.st_mode)) {
    throw rt::RuntimeError(rt::err::PathFileAccess, failure);
  }
  return readable;
}

}  // namespace

Extraction::Extraction(const std::string& archive, const std::string& destination, Mode mode,
                       const std::vector<std::string>& members, const ExtractOptions& options, int givenFolder)
    : archive_(archive),
      destination_(destination),
      mode_(mode),
      members_(members),
      options_(options),
      givenFolder_(givenFolder) {
  if (destination.empty() || destination.front() != '/') {
    throw rt::RuntimeError(rt::err::InvalidProcedureCall,
                           "展開先のフォルダーが正しくありません。(" + destination + ")");
  }
  targets_ = TargetsFor(members, mode);
}

Extraction::~Extraction() {
  if (!lockedGiven_) return;
  replacement_.reset();
  ReleaseDestination(givenFolder_);
}

int Extraction::Run() {
  const int missing = Prepare(true);
  if (missing == 0) Commit();
  return missing;
}

int Extraction::Prepare(bool waitForFolder) {
  const uint64_t size = OpenArchive();
  const int folder = TakeDestination(waitForFolder);
  bool read = false;
  const int missing = FindTargets(size, read);
  if (missing > 0 || targets_.empty()) return missing;
  // The file changed between the walk and now.
  if (!read) throw ArchiveDamaged(archive_, FaultText(HeaderFault::BadLayout));
  Stage(folder, size);
  return 0;
}

// Returns the archive's size.
uint64_t Extraction::OpenArchive() {
  // Without O_NONBLOCK a FIFO put in the archive's place would hold the
  // open until a writer came; the kind is judged on what was opened.
  archiveFd_ = rt::OwnedFd(rt::Ops().Open(archive_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0));
  if (!archiveFd_.valid()) throw ArchiveOpenError(errno, archive_);
  struct stat& st = archiveStat_;
  if (rt::Ops().Fstat(archiveFd_.get(), &st) != 0) throw ArchiveOpenError(errno, archive_);
  if (!S_ISREG(st.st_mode)) throw ArchiveOpenError(S_ISDIR(st.st_mode) ? EISDIR : EINVAL, archive_);
  return static_cast<uint64_t>(st.st_size);
}

// Opens (unless given), holds and recovers the destination; returns it.
int Extraction::TakeDestination(bool waitForFolder) {
  int folder = givenFolder_;
  if (folder < 0) {
    destinationFd_ = OpenDestination(destination_);
    folder = destinationFd_.get();
  }
  HoldDestination(folder, destination_, waitForFolder);
  if (waitForFolder) lockedGiven_ = givenFolder_ >= 0;
  std::vector<PathParts> outputs;
  for (const Target& t : targets_) outputs.push_back(t.output);
  RecoverDestination(folder, destination_, outputs);
  return folder;
}

// Finds the targets in the archive's walk, walking afresh once when a
// remembered walk no longer describes the file. Returns the number missing;
// `read` says whether every found header read as the walk saw it.
int Extraction::FindTargets(uint64_t size, bool& read) {
  bool fresh = false;
  index_ = IndexOf(archiveFd_.get(), archiveStat_, archive_, fresh);
  int missing = FindAll(targets_, *index_);
  read = missing == 0 && ReadFound(archiveFd_.get(), size, targets_, archive_, fresh);
  if (!fresh && !read) {
    ForgetIndex();
    // Not what another thread may have remembered or kept meanwhile: only a
    // walk made now can tell a changed file from a wrong walk.
    index_ = IndexOf(archiveFd_.get(), archiveStat_, archive_, fresh, true);
    missing = FindAll(targets_, *index_);
    read = missing == 0 && ReadFound(archiveFd_.get(), size, targets_, archive_, fresh);
  }
  return missing;
}

// Decodes every target into a staged copy in `folder`, verified and closed.
void Extraction::Stage(int folder, uint64_t size) {
  replacement_ = std::make_unique<replace::Replacement>(folder, destination_, options_.ownerOnly, options_.flush);
  std::vector<rt::UniqueFd> copies;
  for (const Target& t : targets_) copies.push_back(replacement_->Stage(replacement_->Add(t.output, t.label)));
  DecodeAll(archiveFd_.get(), size, *replacement_, copies);
  // Before the renames: from then on the names are anybody's to swap.
  if (givenFolder_ >= 0) {
    for (std::size_t i = 0; i < targets_.size(); ++i) {
      readable_.push_back(ReadableCopy(copies[i].get(), targets_[i].label, replacement_->Shown(i)));
    }
  }
  for (std::size_t i = 0; i < targets_.size(); ++i) replacement_->Finish(i, std::move(copies[i]));
}

void Extraction::Commit() {
  if (replacement_) replacement_->Commit();
}

bool Extraction::SameRequest(const std::string& archive, const std::string& destination, Mode mode,
                             const std::vector<std::string>& members, const ExtractOptions& options) const {
  return archive == archive_ && destination == destination_ && mode == mode_ && members == members_ &&
         options.ownerOnly == options_.ownerOnly && options.flush == options_.flush;
}

bool Extraction::ArchiveUnchanged() const {
  struct stat now {};
  if (rt::Ops().FstatAt(AT_FDCWD, archive_.c_str(), &now, 0) != 0) return false;
  const struct stat& then = archiveStat_;
  return now.st_dev == then.st_dev && now.st_ino == then.st_ino && now.st_size == then.st_size &&
         now.st_mtim.tv_sec == then.st_mtim.tv_sec && now.st_mtim.tv_nsec == then.st_mtim.tv_nsec &&
         now.st_ctim.tv_sec == then.st_ctim.tv_sec && now.st_ctim.tv_nsec == then.st_ctim.tv_nsec;
}

// Each member on its own thread with its own reader; the first failure
// stops the others, and the earliest requested member's error is reported.
// The largest member takes the longest, so it is decoded here at once;
// begun ahead, the others wait while the version check decodes its own
// member, so that one is not slowed by them.
void Extraction::DecodeAll(int archiveFd, uint64_t size, const replace::Replacement& replacement,
                           const std::vector<rt::UniqueFd>& copies) {
  std::atomic<bool>& stop = stop_;
  std::vector<std::exception_ptr> errors(targets_.size());
  auto decode = [&](std::size_t i) {
    try {
      DecodeMember(archiveFd, size, targets_[i].found, archive_, targets_[i].label, copies[i].get(),
                   replacement.Shown(i), stop, options_.flush);
    } catch (const DecodeStopped&) {
    } catch (...) {
      errors[i] = std::current_exception();
      stop.store(true, std::memory_order_relaxed);
    }
  };
  std::vector<std::size_t> order(targets_.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return targets_[a].found.header.packedSize > targets_[b].found.header.packedSize;
  });
  std::vector<std::thread> helpers;
  for (std::size_t k = 1; k < order.size(); ++k) {
    try {
      helpers.emplace_back([this, &decode, i = order[k]] {
        if (aheadOfForeground_) WaitForForeground(stop_);
        decode(i);
      });
    } catch (const std::system_error&) {
      break;  // no thread to be had: the rest are decoded here
    }
  }
  if (!order.empty()) decode(order[0]);
  for (std::size_t k = helpers.size() + 1; k < order.size(); ++k) decode(order[k]);
  for (std::thread& helper : helpers) helper.join();
  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
  if (stop.load(std::memory_order_relaxed)) throw DecodeStopped{};
}

int ExtractMembers(const std::string& archivePath, const std::string& destination, Mode mode,
                   const std::vector<std::string>& members, const ExtractOptions& options) {
  if (CommitReadAhead(archivePath, destination, mode, members, options)) return 0;
  return Extraction(archivePath, destination, mode, members, options).Run();
}

ExtractedFiles ExtractMembersForReading(const std::string& archivePath, int destinationFd,
                                        const std::string& destination, Mode mode,
                                        const std::vector<std::string>& members, const ExtractOptions& options) {
  struct stat folder {};
  if (destinationFd < 0 || rt::Ops().Fstat(destinationFd, &folder) != 0 || !S_ISDIR(folder.st_mode)) {
    throw rt::RuntimeError(rt::err::InvalidProcedureCall,
                           "展開先のフォルダーが正しくありません。(" + destination + ")");
  }
  // Nothing begun ahead is ever for reading; only one into this very folder is in the way.
  DropReadAheadInto(folder);
  Extraction extraction(archivePath, destination, mode, members, options, destinationFd);
  ExtractedFiles extracted;
  const ForegroundWork waitedOn;
  extracted.missing = extraction.Run();
  if (extracted.missing == 0) extracted.files = extraction.TakeReadable();
  return extracted;
}

}  // namespace zr::lzh
