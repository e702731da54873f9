#include "fuzz/jet/JetFuzzBody.h"

#include <sys/mman.h>
#include <unistd.h>

#include <fstream>
#include <span>
#include <string>

#include "platform/jet/Dao.h"
#include "platform/jet/Header.h"
#include "platform/jet/MdbRead.h"
#include "platform/jet/Protocol.h"
#include "platform/jet/Query.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::jet::fuzz {
namespace {

constexpr const char* kPassword = "R$KQTM3VXEJW8FNUPC";
constexpr const char* kQuery = "SELECT VALUECHAR FROM XC_CONTROL WHERE ITEM = 'ZrVer'";

}  // namespace

void DecodeInProcess(const uint8_t* data, std::size_t size) {
  detail::Header header{};
  if (detail::DecodeHeader(std::span<const unsigned char>(data, size), header) == detail::HeaderProblem::None) {
    (void)detail::PasswordOpens(header, kPassword);
  }
  const std::string_view message(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 4096));
  (void)detail::DecodeOutcome(message);
  (void)detail::DecodeRequest(message);
  (void)detail::ParseSelect(std::string_view(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 256)));
}

void ReadInProcess(const uint8_t* data, std::size_t size) {
  DecodeInProcess(data, size);

  int fd = memfd_create("zr-jet-fuzz", MFD_CLOEXEC);
  if (fd < 0) return;
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  auto query = detail::ParseSelect(kQuery);
  (void)detail::ReadCatalog(fd);
  (void)detail::ReadSelect(fd, *query);
  close(fd);
}

int32_t ReadThroughEngine(const uint8_t* data, std::size_t size, const char* directory) {
  const std::string path = std::string(directory) + "/ZrXXComn.wf6";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  try {
    auto db = Engine().Workspaces(0).OpenDatabase(path, true, true, std::string(";PWD=") + kPassword);
    auto rs = db->OpenRecordset(kQuery, dbOpenSnapshot);
    if (!rs->IsEOF()) (void)ToText(rs->Fields(0).GetValue());
    return 0;
  } catch (const rt::RuntimeError& e) {
    return e.number();
  }
}

}  // namespace zr::jet::fuzz
