// Decodes one member into a file, checking its size and data CRC, on whichever thread calls it.
#include "platform/lzh/MemberDecoder.h"

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <memory>

#include "platform/lzh/Crc16.h"
#include "platform/lzh/ErrorTexts.h"
#include "platform/lzh/HeaderGate.h"
#include "platform/lzh/ThreadLocale.h"
#include "platform/runtime/FileOps.h"

namespace zr::lzh {
namespace {

// What a 32-bit size field can say; only the 64-bit extension claims more,
// and no member this program restores comes near it.
constexpr uint64_t kMaxMemberBytes = 0xFFFFFFFFULL;

struct ArchiveDeleter {
  void operator()(struct archive* a) const { archive_read_free(a); }
};
using ArchivePtr = std::unique_ptr<struct archive, ArchiveDeleter>;

void WriteAll(int fd, const void* data, std::size_t size, const std::string& label, const std::string& shown) {
  if (!rt::WriteAll(fd, std::string_view(static_cast<const char*>(data), size))) {
    throw rt::ErrorFromErrno(errno, "「" + label + "」を書き込めません: " + shown);
  }
}

// A method libarchive cannot decode, or a size no member of ours comes near.
void RefuseUndecodable(const MemberHeader& header, const std::string& archive, const std::string& label) {
  if (!Decodable(header.method)) {
    throw rt::RuntimeError(rt::err::BadFileFormat, "バックアップファイル内の「" + label +
                                                       "」は対応していない圧縮方式(" + header.method +
                                                       ")で格納されています。(" + archive + ")");
  }
  if (header.originalSize > kMaxMemberBytes) throw MemberDamaged(archive, label, "格納サイズが大きすぎます");
}

ArchivePtr NewLhaReader() {
  ArchivePtr a(archive_read_new());
  if (!a) throw rt::RuntimeError(rt::err::OutOfMemory, "メモリが不足しています。");
  archive_read_support_format_lha(a.get());
  // Names reach libarchive as Latin-1, which converts every byte; we decode
  // the real code page from our own parse, so no name can stop the reader.
  if (archive_read_set_format_option(a.get(), "lha", "hdrcharset", "ISO-8859-1") != ARCHIVE_OK) {
    throw rt::RuntimeError(rt::err::Internal, "LZHの読み込みを準備できません。");
  }
  return a;
}

}  // namespace

bool Decodable(const std::string& method) {
  return method == "-lh0-" || method == "-lz4-" || method == "-lh5-" || method == "-lh6-" || method == "-lh7-";
}

void DecodeMember(int archiveFd, uint64_t fileSize, const IndexedMember& member, const std::string& archive,
                  const std::string& label, int out, const std::string& shown, const std::atomic<bool>& stop,
                  bool flush) {
  const MemberHeader& header = member.header;
  RefuseUndecodable(header, archive, label);

  ThreadUtf8Locale locale;
  MemberSource source(archiveFd, fileSize, member, archive);
  ArchivePtr a = NewLhaReader();
  auto failed = [&](const std::string& fallback) -> rt::RuntimeError {
    if (source.failure()) return *source.failure();
    return ArchiveDamaged(archive, fallback);
  };
  if (archive_read_open2(a.get(), &source, nullptr, MemberSource::Read, MemberSource::Skip, nullptr) != ARCHIVE_OK) {
    throw failed(FaultText(HeaderFault::NotLzh));
  }
  struct archive_entry* entry = nullptr;
  if (archive_read_next_header(a.get(), &entry) != ARCHIVE_OK) throw failed(FaultText(HeaderFault::BadLayout));
  if (archive_read_header_position(a.get()) != 0 ||
      archive_filter_bytes(a.get(), 0) != static_cast<la_int64_t>(header.span) ||
      archive_entry_filetype(entry) != AE_IFREG) {
#ifdef ZR_LZH_FUZZING
    __builtin_trap();  // our reading and libarchive's must never part ways
#endif
    throw ArchiveDamaged(archive, FaultText(HeaderFault::BadLayout));
  }

  uint64_t produced = 0;
  uint16_t crc = 0;
  for (;;) {
    if (stop.load(std::memory_order_relaxed)) throw DecodeStopped{};
    const void* data = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    const int r = archive_read_data_block(a.get(), &data, &size, &offset);
    if (r == ARCHIVE_EOF) break;
    if (r != ARCHIVE_OK) {
      if (source.failure()) throw *source.failure();
      throw MemberDamaged(archive, label,
                          r == ARCHIVE_WARN     ? "データのCRCが一致しません"
                          : r == ARCHIVE_FAILED ? "圧縮データが正しくありません"
                                                : "データが途中で切れています");
    }
    if (offset < 0 || static_cast<uint64_t>(offset) != produced) {
      throw MemberDamaged(archive, label, "データの並びが正しくありません");
    }
    if (size > header.originalSize - produced) {
      throw MemberDamaged(archive, label, "展開したデータが格納サイズを超えています");
    }
    crc = Crc16(crc, data, size);
    if (out >= 0) WriteAll(out, data, size, label, shown);
    produced += size;
  }
  if (produced != header.originalSize) throw MemberDamaged(archive, label, "データの長さが格納サイズと一致しません");
  if (crc != header.dataCrc) throw MemberDamaged(archive, label, "データのCRCが一致しません");
  if (out >= 0 && flush && rt::Ops().Fsync(out) != 0)
    throw rt::ErrorFromErrno(errno, "「" + label + "」をディスクに書き込めません: " + shown);
}

}  // namespace zr::lzh
