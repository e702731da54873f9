// Every member of an archive decoded and checked, nothing written.
#include "platform/lzh/MemberCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/lzh/ArchiveIndex.h"
#include "platform/lzh/CheckQueue.h"
#include "platform/lzh/DataCheck.h"
#include "platform/lzh/ErrorTexts.h"
#include "platform/lzh/Header.h"
#include "platform/lzh/HeaderWalk.h"
#include "platform/lzh/MemberReader.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/UniqueFd.h"

namespace zr::lzh {
namespace {

std::string StoredName(const IndexedMember& member) {
  if (!member.name) return "(名前を読めないメンバー)";
  std::string name;
  for (const std::string& part : *member.name) {
    if (!name.empty()) name += '\\';
    name += part;
  }
  return name;
}

// Whether the file opens with an LZH header. A file of zeros reads as an end
// mark followed by more; only a lone end mark is an (empty) archive. Damage
// further on is left to the walk.
bool StartsAsArchive(int fd, uint64_t size, const std::string& archivePath) {
  if (size == 0) return false;
  std::vector<uint8_t> head(static_cast<std::size_t>(std::min<uint64_t>(size, 4096)));
  std::size_t got = 0;
  while (got < head.size()) {
    const ssize_t n = pread(fd, head.data() + got, head.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw rt::ErrorFromErrno(errno, "バックアップファイルを読み込めません: " + archivePath);
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got == 0) return false;
  if (head[0] == 0) return size == 1;
  // Fewer bytes than the fields that make a header recognisable: no archive.
  constexpr std::size_t kRecognisable = 21;
  if (got < kRecognisable) return false;
  MemberHeader header;
  const HeaderParse parse = ParseHeader({head.data(), got}, got == size, header);
  return !(parse.status == HeaderParse::Fault && parse.fault == HeaderFault::NotLzh);
}

// Opens the archive to check, a regular file; `st` is set to its status.
rt::UniqueFd OpenToCheck(const std::string& archivePath, struct stat& st) {
  rt::UniqueFd fd(open(archivePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid()) {
    const int error = errno;
    // A socket cannot be opened at all; say what it is rather than why the open failed.
    if (error == ENXIO && stat(archivePath.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      throw NotRegularFile(st.st_mode, archivePath);
    }
    throw rt::ErrorFromErrno(error, "バックアップファイルを開けません: " + archivePath);
  }
  if (fstat(fd.get(), &st) != 0)
    throw rt::ErrorFromErrno(errno, "バックアップファイルを読み込めません: " + archivePath);
  if (!S_ISREG(st.st_mode)) throw NotRegularFile(st.st_mode, archivePath);
  return fd;
}

// One check of an archive: the walk on this thread, the members checked by
// every core as the walk finds them.
class CheckRun {
 public:
  CheckRun(int fd, uint64_t size, const std::string& archive, const CheckProgress& progress)
      : fd_(fd), size_(size), archive_(archive), progress_(progress) {}

  std::vector<MemberCheck> Run(const struct stat& st);

 private:
  void Work();
  void Check(const IndexedMember& member, MemberCheck& result, CheckSpace& space);
  void Done(const IndexedMember& member);
  void Fail(std::exception_ptr error);

  const int fd_;
  const uint64_t size_;
  const std::string& archive_;
  const CheckProgress& progress_;
  CheckQueue queue_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;  // for the failure and the progress
  std::exception_ptr failure_;
};

std::vector<MemberCheck> CheckRun::Run(const struct stat& st) {
  // Members are independent: each core checks the next one not yet taken,
  // the first ones while this thread still walks the headers.
  unsigned helpersToStart = std::clamp(std::thread::hardware_concurrency(), 1u, 4u) - 1;
  std::vector<std::thread> helpers;
  MemberIndex index;
  std::exception_ptr walkFailure;
  try {
    VisitHeaders(fd_, size_, archive_, [&](IndexedMember&& m) {
      if (!m.regular) return;
      index.push_back(EntryFor(m));
      queue_.Add(std::move(m));
      for (; helpersToStart > 0; --helpersToStart) {
        try {
          helpers.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
          // No thread to be had: the members wait for this one.
        }
      }
    });
  } catch (...) {
    walkFailure = std::current_exception();
    stop_ = true;
  }
  queue_.End();
  if (!walkFailure) Work();
  for (std::thread& helper : helpers) helper.join();
  // A damaged header fails the whole check, whatever the members came to.
  if (walkFailure) std::rethrow_exception(walkFailure);
  if (failure_) std::rethrow_exception(failure_);
  // The version check that follows extracts the common database from the same archive: it need not walk it again.
  RememberIndex(st, std::move(index));
  return queue_.Results();
}

void CheckRun::Work() {
  CheckSpace space;
  const IndexedMember* member = nullptr;
  MemberCheck* result = nullptr;
  while (!stop_.load() && queue_.Take(member, result)) {
    if (!stop_.load()) Check(*member, *result, space);
  }
}

void CheckRun::Check(const IndexedMember& member, MemberCheck& result, CheckSpace& space) {
  result.name = StoredName(member);
  if (!Decodable(member.header.method)) {
    result.unsupportedMethod = member.header.method;
    Done(member);
    return;
  }
  try {
    CheckMemberData(fd_, size_, member, archive_, result.name, space, stop_);
    Done(member);
  } catch (const rt::RuntimeError& e) {
    if (e.number() != rt::err::BadFileFormat) {
      Fail(std::current_exception());
      return;
    }
    result.damage = e.description();
    Done(member);
  } catch (const DecodeStopped&) {
  } catch (...) {
    Fail(std::current_exception());
  }
}

void CheckRun::Done(const IndexedMember& member) {
  if (!progress_) return;
  std::lock_guard lock(mutex_);
  progress_(member.header.span + member.header.packedSize);
}

void CheckRun::Fail(std::exception_ptr error) {
  std::lock_guard lock(mutex_);
  if (!failure_) failure_ = std::move(error);
  stop_ = true;
}

}  // namespace

ArchiveCheck CheckEveryMember(const std::string& archivePath, const CheckProgress& progress) {
  struct stat st {};
  const rt::UniqueFd fd = OpenToCheck(archivePath, st);
  const auto size = static_cast<uint64_t>(st.st_size);
  ArchiveCheck result;
  if (!StartsAsArchive(fd.get(), size, archivePath)) {
    result.lzh = false;
    return result;
  }
  result.members = CheckRun(fd.get(), size, archivePath, progress).Run(st);
  return result;
}

}  // namespace zr::lzh
