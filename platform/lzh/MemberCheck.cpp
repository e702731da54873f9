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
#include <thread>

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

// Opens the archive to check, a regular file; `size` is set to its size.
rt::UniqueFd OpenToCheck(const std::string& archivePath, uint64_t& size) {
  rt::UniqueFd fd(open(archivePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat st {};
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
  size = static_cast<uint64_t>(st.st_size);
  return fd;
}

// The ordinary members, in the order the walk met them.
std::vector<IndexedMember> RegularMembers(int fd, uint64_t size, const std::string& archivePath) {
  std::vector<IndexedMember> members = WalkHeaders(fd, size, archivePath);
  members.erase(std::remove_if(members.begin(), members.end(), [](const IndexedMember& m) { return !m.regular; }),
                members.end());
  return members;
}

}  // namespace

ArchiveCheck CheckEveryMember(const std::string& archivePath, const CheckProgress& progress) {
  uint64_t size = 0;
  const rt::UniqueFd fd = OpenToCheck(archivePath, size);
  ArchiveCheck result;
  if (!StartsAsArchive(fd.get(), size, archivePath)) {
    result.lzh = false;
    return result;
  }
  const std::vector<IndexedMember> members = RegularMembers(fd.get(), size, archivePath);
  std::vector<MemberCheck>& checked = result.members;
  checked.resize(members.size());
  std::mutex progressMutex;
  auto done = [&](const IndexedMember& m) {
    if (!progress) return;
    std::lock_guard lock(progressMutex);
    progress(m.header.span + m.header.packedSize);
  };

  // Members are independent: each core decodes the next one not yet taken.
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex failureMutex;
  std::exception_ptr failure;
  auto work = [&] {
    std::vector<uint8_t> buffer;
    for (std::size_t i; !stop.load() && (i = next.fetch_add(1)) < members.size();) {
      checked[i].name = StoredName(members[i]);
      if (!Decodable(members[i].header.method)) {
        checked[i].unsupportedMethod = members[i].header.method;
        done(members[i]);
        continue;
      }
      try {
        CheckMemberData(fd.get(), size, members[i], archivePath, checked[i].name, buffer, stop);
        done(members[i]);
      } catch (const rt::RuntimeError& e) {
        if (e.number() == rt::err::BadFileFormat) {
          checked[i].damage = e.description();
          done(members[i]);
          continue;
        }
        std::lock_guard lock(failureMutex);
        if (!failure) failure = std::current_exception();
        stop = true;
      } catch (const DecodeStopped&) {
      } catch (...) {
        std::lock_guard lock(failureMutex);
        if (!failure) failure = std::current_exception();
        stop = true;
      }
    }
  };
  const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
  std::vector<std::thread> helpers;
  for (unsigned k = 1; k < cores && k < members.size(); ++k) helpers.emplace_back(work);
  work();
  for (auto& t : helpers) t.join();
  if (failure) std::rethrow_exception(failure);
  return result;
}

}  // namespace zr::lzh
