// Every member of an archive decoded and checked, nothing written.
#include "platform/lzh/MemberCheck.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>

#include "platform/lzh/HeaderWalk.h"
#include "platform/lzh/MemberDecoder.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/UniqueFd.h"

namespace zr::lzh {

std::vector<MemberCheck> CheckEveryMember(const std::string& archivePath) {
  rt::UniqueFd fd(open(archivePath.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) throw rt::ErrorFromErrno(errno, "バックアップファイルを開けません: " + archivePath);
  struct stat st {};
  if (fstat(fd.get(), &st) != 0)
    throw rt::ErrorFromErrno(errno, "バックアップファイルを読み込めません: " + archivePath);
  const auto size = static_cast<uint64_t>(st.st_size);
  const std::atomic<bool> never{false};
  std::vector<MemberCheck> checked;
  for (const IndexedMember& member : WalkHeaders(fd.get(), size, archivePath)) {
    if (!member.regular) continue;
    std::string name;
    if (member.name) {
      for (const std::string& part : *member.name) {
        if (!name.empty()) name += '\\';
        name += part;
      }
    } else {
      name = "(名前を読めないメンバー)";
    }
    MemberCheck result{name, std::nullopt};
    try {
      DecodeMember(fd.get(), size, member, archivePath, name, -1, {}, never);
    } catch (const rt::RuntimeError& e) {
      if (e.number() != rt::err::BadFileFormat) throw;
      result.damage = e.description();
    }
    checked.push_back(std::move(result));
  }
  return checked;
}

}  // namespace zr::lzh
