// Every member of an archive decoded and checked, nothing written.
#include "platform/lzh/MemberCheck.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <mutex>
#include <thread>

#include "platform/lzh/HeaderWalk.h"
#include "platform/lzh/MemberDecoder.h"
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

}  // namespace

std::vector<MemberCheck> CheckEveryMember(const std::string& archivePath) {
  rt::UniqueFd fd(open(archivePath.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) throw rt::ErrorFromErrno(errno, "バックアップファイルを開けません: " + archivePath);
  struct stat st {};
  if (fstat(fd.get(), &st) != 0)
    throw rt::ErrorFromErrno(errno, "バックアップファイルを読み込めません: " + archivePath);
  const auto size = static_cast<uint64_t>(st.st_size);

  std::vector<IndexedMember> members = WalkHeaders(fd.get(), size, archivePath);
  members.erase(std::remove_if(members.begin(), members.end(), [](const IndexedMember& m) { return !m.regular; }),
                members.end());
  std::vector<MemberCheck> checked(members.size());

  // Members are independent: each core decodes the next one not yet taken.
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex failureMutex;
  std::exception_ptr failure;
  auto work = [&] {
    for (std::size_t i; !stop.load() && (i = next.fetch_add(1)) < members.size();) {
      checked[i].name = StoredName(members[i]);
      try {
        DecodeMember(fd.get(), size, members[i], archivePath, checked[i].name, -1, {}, stop);
      } catch (const rt::RuntimeError& e) {
        if (e.number() == rt::err::BadFileFormat) {
          checked[i].damage = e.description();
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
  return checked;
}

}  // namespace zr::lzh
