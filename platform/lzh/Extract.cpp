// Extraction of requested members: find them in the archive, decode them side by side, replace the targets together.
#include "platform/lzh/Extract.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/lzh/ArchiveIndex.h"
#include "platform/lzh/ErrorTexts.h"
#include "platform/lzh/FileOps.h"
#include "platform/lzh/MemberDecoder.h"
#include "platform/lzh/MemberName.h"
#include "platform/lzh/Recovery.h"
#include "platform/lzh/Replacement.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::lzh {
namespace {

struct Target {
  PathParts member;   // what to look for in the archive
  PathParts output;   // where it goes under the destination, file name last
  std::string label;  // the requested name as given, for messages
  int requested = 0;  // list entries that name this member
  const IndexedMember* found = nullptr;
};

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
    t.found = nullptr;
    for (auto m = index.rbegin(); m != index.rend() && t.found == nullptr; ++m) {
      if (m->regular && m->name && SamePath(t.member, *m->name)) t.found = &*m;
    }
    if (t.found == nullptr) missing += t.requested;
  }
  return missing;
}

// A remembered walk still describes the file when every wanted header reads the same.
bool StillMatches(int fd, uint64_t size, const std::vector<Target>& targets, const std::string& archive) {
  std::vector<uint8_t> buffer;
  for (const Target& t : targets) {
    MemberHeader now;
    try {
      if (!ReadHeaderAt(fd, size, t.found->position, buffer, now, archive)) return false;
    } catch (const rt::RuntimeError&) {
      return false;
    }
    if (now.span != t.found->header.span || now.packedSize != t.found->header.packedSize ||
        now.dataCrc != t.found->header.dataCrc || now.nameBytes != t.found->header.nameBytes) {
      return false;
    }
  }
  return true;
}

class Extraction {
 public:
  Extraction(const std::string& archive, const std::string& destination, Mode mode,
             const std::vector<std::string>& members, const ExtractOptions& options)
      : archive_(archive), destination_(destination), options_(options) {
    if (destination.empty() || destination.front() != '/') {
      throw rt::RuntimeError(rt::err::InvalidProcedureCall,
                             "展開先のフォルダーが正しくありません。(" + destination + ")");
    }
    targets_ = TargetsFor(members, mode);
  }

  int Run() {
    rt::UniqueFd archiveFd = OwnedFd(Ops().Open(archive_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY, 0));
    if (!archiveFd.valid()) throw ArchiveOpenError(errno, archive_);
    struct stat st {};
    if (Ops().Fstat(archiveFd.get(), &st) != 0) throw ArchiveOpenError(errno, archive_);
    if (!S_ISREG(st.st_mode)) throw ArchiveOpenError(S_ISDIR(st.st_mode) ? EISDIR : EINVAL, archive_);
    const auto size = static_cast<uint64_t>(st.st_size);

    rt::UniqueFd destinationFd = OwnedFd(Ops().Open(destination_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (!destinationFd.valid()) {
      if (errno == ENOENT || errno == ENOTDIR) {
        throw rt::RuntimeError(rt::err::PathNotFound, "展開先のフォルダーが見つかりません。(" + destination_ + ")");
      }
      throw rt::ErrorFromErrno(errno, "展開先のフォルダーを開けません: " + destination_);
    }
    LockFolder(destinationFd.get(), destination_);
    RecoverIn(destinationFd.get(), destination_);

    bool fresh = false;
    auto index = IndexOf(archiveFd.get(), st, archive_, fresh);
    int missing = FindAll(targets_, *index);
    if (!fresh && (missing > 0 || !StillMatches(archiveFd.get(), size, targets_, archive_))) {
      ForgetIndex();
      index = IndexOf(archiveFd.get(), st, archive_, fresh);
      missing = FindAll(targets_, *index);
    }
    if (missing > 0 || targets_.empty()) return missing;

    Replacement replacement(destinationFd.get(), destination_, options_.ownerOnly);
    std::vector<rt::UniqueFd> copies;
    for (const Target& t : targets_) copies.push_back(replacement.Stage(replacement.Add(t.output, t.label)));
    DecodeAll(archiveFd.get(), size, replacement, copies);
    for (std::size_t i = 0; i < targets_.size(); ++i) replacement.Finish(i, std::move(copies[i]));
    replacement.Commit();
    return 0;
  }

 private:
  // Each member on its own thread with its own reader; the first failure
  // stops the others, and the earliest requested member's error is reported.
  void DecodeAll(int archiveFd, uint64_t size, const Replacement& replacement,
                 const std::vector<rt::UniqueFd>& copies) {
    std::atomic<bool> stop{false};
    std::vector<std::exception_ptr> errors(targets_.size());
    auto decode = [&](std::size_t i) {
      try {
        DecodeMember(archiveFd, size, *targets_[i].found, archive_, targets_[i].label, copies[i].get(),
                     replacement.Shown(i), stop);
      } catch (const DecodeStopped&) {
      } catch (...) {
        errors[i] = std::current_exception();
        stop.store(true, std::memory_order_relaxed);
      }
    };
    std::vector<std::thread> helpers;
    for (std::size_t i = 1; i < targets_.size(); ++i) {
      try {
        helpers.emplace_back(decode, i);
      } catch (const std::system_error&) {
        break;  // no thread to be had: the rest are decoded here
      }
    }
    decode(0);
    for (std::size_t i = helpers.size() + 1; i < targets_.size(); ++i) decode(i);
    for (std::thread& helper : helpers) helper.join();
    for (const std::exception_ptr& error : errors) {
      if (error) std::rethrow_exception(error);
    }
  }

  const std::string& archive_;
  const std::string& destination_;
  ExtractOptions options_;
  std::vector<Target> targets_;
};

}  // namespace

int ExtractMembers(const std::string& archivePath, const std::string& destination, Mode mode,
                   const std::vector<std::string>& members, const ExtractOptions& options) {
  return Extraction(archivePath, destination, mode, members, options).Run();
}

}  // namespace zr::lzh
