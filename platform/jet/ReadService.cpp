#include "platform/jet/ReadService.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/jet/Header.h"
#include "platform/jet/MdbRead.h"
#include "platform/runtime/FileOps.h"

namespace zr::jet::detail {
namespace {

constexpr int kClosed = 0;
constexpr int kOutOfForm = 2;

enum class Got { Whole, ClosedBefore, Broken };

Got ReadExactly(int fd, char* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = read(fd, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 && done == 0) return Got::ClosedBefore;
    if (n <= 0) return Got::Broken;
    done += static_cast<std::size_t>(n);
  }
  return Got::Whole;
}

}  // namespace

OpenVerdict CheckOpen(int database, std::string_view connect) {
  struct stat st {};
  std::vector<unsigned char> page(4096);
  const ssize_t got = pread(database, page.data(), page.size(), 0);
  if (fstat(database, &st) != 0 || got < 0) return OpenVerdict::Unreadable;
  page.resize(static_cast<std::size_t>(got));
  Header header{};
  if (DecodeHeader(page, header) != HeaderProblem::None || st.st_size % static_cast<off_t>(header.pageSize) != 0 ||
      st.st_size < 3 * static_cast<off_t>(header.pageSize)) {
    return OpenVerdict::Unreadable;
  }
  if (ReadCatalog(database).status != ReadStatus::Ok) return OpenVerdict::Unreadable;
  if (!PasswordOpens(header, PasswordFromConnect(connect))) return OpenVerdict::WrongPassword;
  return OpenVerdict::Ok;
}

int ServeReads(int database, int channel) {
  bool opened = false;
  while (true) {
    char header[4];
    const Got got = ReadExactly(channel, header, sizeof header);
    if (got == Got::ClosedBefore) return kClosed;
    const uint32_t size = FrameLength(header);
    if (got == Got::Broken || size > kMaxFrame) return kOutOfForm;
    std::string bytes(size, '\0');
    if (size > 0 && ReadExactly(channel, bytes.data(), size) != Got::Whole) return kOutOfForm;
    const auto request = DecodeRequest(bytes);
    if (!request) return kOutOfForm;
    std::string answer;
    if (request->kind == Request::Kind::Open) {
      const OpenVerdict verdict = CheckOpen(database, request->connect);
      opened = verdict == OpenVerdict::Ok;
      answer = EncodeVerdict(verdict);
    } else if (opened) {
      answer = EncodeOutcome(ReadSelect(database, request->query));
    } else {
      return kOutOfForm;
    }
    if (!rt::WriteAll(channel, Frame(answer))) return kClosed;
  }
}

}  // namespace zr::jet::detail
