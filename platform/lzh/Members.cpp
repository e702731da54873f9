#include "platform/lzh/Members.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/lzh/Header.h"
#include "platform/lzh/MemberName.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::lzh {
namespace {

class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) throw rt::ErrorFromErrno(errno, "バックアップファイルを開けません: " + path);
  }
  ~ReadOnlyFile() { close(fd_); }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::vector<std::string> MissingMembers(const std::string& archivePath, const std::vector<std::string>& requested) {
  std::vector<PathParts> wanted;
  for (const auto& name : requested) wanted.push_back(SplitRequestedName(name));
  std::vector<bool> found(requested.size(), false);

  ReadOnlyFile file(archivePath);
  const off_t size = lseek(file.fd(), 0, SEEK_END);
  if (size < 0) throw rt::ErrorFromErrno(errno, archivePath);

  NameDecoder names;
  std::vector<uint8_t> buffer;
  off_t position = 0;
  while (position < size) {
    const auto available = static_cast<std::size_t>(std::min<off_t>(size - position, kMaxHeaderBytes));
    buffer.resize(available);
    const ssize_t got = pread(file.fd(), buffer.data(), available, position);
    if (got != static_cast<ssize_t>(available)) throw rt::ErrorFromErrno(got < 0 ? errno : EIO, archivePath);
    MemberHeader header;
    const HeaderParse parse =
        ParseHeader({buffer.data(), available}, position + static_cast<off_t>(available) == size, header);
    if (parse.status == HeaderParse::EndOfArchive) break;
    if (parse.status != HeaderParse::Complete) {
      throw rt::RuntimeError(rt::err::BadFileFormat,
                             "バックアップファイルの内容を確認できません。(" + archivePath + ")");
    }
    if (!header.directory) {
      if (const auto stored = names.Decode(header)) {
        for (std::size_t i = 0; i < wanted.size(); ++i) {
          if (SamePath(wanted[i], *stored)) found[i] = true;
        }
      }
    }
    position += static_cast<off_t>(header.span) + header.packedSize;
  }

  std::vector<std::string> missing;
  for (std::size_t i = 0; i < requested.size(); ++i) {
    if (!found[i]) missing.push_back(requested[i]);
  }
  return missing;
}

}  // namespace zr::lzh
