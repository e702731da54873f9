// One member read by its own libarchive reader, which the header gate feeds.
#include "platform/lzh/MemberReader.h"

#include <archive_entry.h>

#include <array>
#include <mutex>
#include <numeric>

#include "platform/lzh/ErrorTexts.h"

namespace zr::lzh {
namespace {

// What a 32-bit size field can say; only the 64-bit extension claims more,
// and no member this program restores comes near it.
constexpr uint64_t kMaxMemberBytes = 0xFFFFFFFFULL;

// libarchive's LHA reader fills a process-wide CRC table the first time any
// reader reads a header, and marks it filled before it is: a second reader
// on another thread in that moment checks CRCs against a half-made table and
// calls a sound archive damaged. One header read alone, before any reader of
// ours exists, fills it while nobody else can look.
void FillLibarchiveTables() {
  // An empty stored member "a" (level 0) and the end mark.
  std::array<unsigned char, 26> bytes{23, 0, '-', 'l', 'h', '0', '-',  0, 0, 0,   0, 0, 0,
                                      0,  0, 0,   0,   0,   0,   0x20, 0, 1, 'a', 0, 0, 0};
  bytes[1] = static_cast<unsigned char>(std::accumulate(bytes.begin() + 2, bytes.begin() + 25, 0u));
  struct archive* a = archive_read_new();
  if (a == nullptr) return;
  archive_read_support_format_lha(a);
  struct archive_entry* entry = nullptr;
  if (archive_read_open_memory(a, bytes.data(), bytes.size()) == ARCHIVE_OK) archive_read_next_header(a, &entry);
  archive_read_free(a);
}

struct archive* NewLhaReader() {
  static std::once_flag filled;
  std::call_once(filled, FillLibarchiveTables);
  struct archive* a = archive_read_new();
  if (a == nullptr) throw rt::RuntimeError(rt::err::OutOfMemory, "メモリが不足しています。");
  archive_read_support_format_lha(a);
  // Names reach libarchive as Latin-1, which converts every byte; we decode
  // the real code page from our own parse, so no name can stop the reader.
  if (archive_read_set_format_option(a, "lha", "hdrcharset", "ISO-8859-1") != ARCHIVE_OK) {
    archive_read_free(a);
    throw rt::RuntimeError(rt::err::Internal, "LZHの読み込みを準備できません。");
  }
  return a;
}

}  // namespace

bool Decodable(const std::string& method) {
  return Stored(method) || method == "-lh5-" || method == "-lh6-" || method == "-lh7-";
}

bool Stored(const std::string& method) { return method == "-lh0-" || method == "-lz4-"; }

void RefuseUndecodable(const MemberHeader& header, const std::string& archive, const std::string& label) {
  if (!Decodable(header.method)) {
    throw rt::RuntimeError(rt::err::BadFileFormat, "バックアップファイル内の「" + label +
                                                       "」は対応していない圧縮方式(" + header.method +
                                                       ")で格納されています。(" + archive + ")");
  }
  if (header.originalSize > kMaxMemberBytes) throw MemberDamaged(archive, label, "格納サイズが大きすぎます");
}

MemberReader::MemberReader(int archiveFd, uint64_t fileSize, const IndexedMember& member, const std::string& archive,
                           const std::string& label)
    : source_(archiveFd, fileSize, member, archive),
      reader_(NewLhaReader()),
      header_(member.header),
      archive_(archive),
      label_(label) {
  struct archive* a = reader_.get();
  if (archive_read_open2(a, &source_, nullptr, MemberSource::Read, MemberSource::Skip, nullptr) != ARCHIVE_OK) {
    throw Failed(FaultText(HeaderFault::NotLzh));
  }
  struct archive_entry* entry = nullptr;
  if (archive_read_next_header(a, &entry) != ARCHIVE_OK) throw Failed(FaultText(HeaderFault::BadLayout));
  if (archive_read_header_position(a) != 0 || archive_filter_bytes(a, 0) != static_cast<la_int64_t>(header_.span) ||
      archive_entry_filetype(entry) != AE_IFREG) {
#ifdef ZR_LZH_FUZZING
    __builtin_trap();  // our reading and libarchive's must never part ways
#endif
    throw ArchiveDamaged(archive_, FaultText(HeaderFault::BadLayout));
  }
}

rt::RuntimeError MemberReader::Failed(const std::string& fallback) const {
  if (source_.failure()) return *source_.failure();
  return ArchiveDamaged(archive_, fallback);
}

bool MemberReader::Next(const void*& data, std::size_t& size) {
  la_int64_t offset = 0;
  const int r = archive_read_data_block(reader_.get(), &data, &size, &offset);
  if (r == ARCHIVE_EOF) return false;
  if (r != ARCHIVE_OK) {
    if (source_.failure()) throw *source_.failure();
    throw MemberDamaged(archive_, label_,
                        r == ARCHIVE_WARN     ? DataFault::Crc
                        : r == ARCHIVE_FAILED ? DataFault::BadStream
                                              : DataFault::Truncated);
  }
  if (offset < 0 || static_cast<uint64_t>(offset) != produced_)
    throw MemberDamaged(archive_, label_, DataFault::OutOfOrder);
  if (size > header_.originalSize - produced_) throw MemberDamaged(archive_, label_, DataFault::TooLong);
  produced_ += size;
  return true;
}

}  // namespace zr::lzh
