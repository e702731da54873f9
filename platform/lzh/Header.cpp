#include "platform/lzh/Header.h"

#include <algorithm>
#include <cstring>

#include "platform/lzh/Crc16.h"

namespace zr::lzh {
namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) { return static_cast<uint32_t>(Le16(p)) | (static_cast<uint32_t>(Le16(p + 2)) << 16); }
uint64_t Le64(const uint8_t* p) { return static_cast<uint64_t>(Le32(p)) | (static_cast<uint64_t>(Le32(p + 4)) << 32); }

// Name fields end at the first NUL, as every reader treats them.
std::string UpToNul(const uint8_t* p, std::size_t n) {
  const auto* end = std::find(p, p + n, uint8_t{0});
  return std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(end - p));
}

// The bytes a reader needs to recognise a header.
constexpr std::size_t kRecognise = 22;
// Extension types readers skip without looking; names we decode ourselves
// are parked under it before libarchive reads the header.
constexpr uint8_t kIgnoredExtension = 0x7E;

bool LooksLikeHeader(const uint8_t* p) {
  if (p[2] != '-' || p[3] != 'l' || p[6] != '-') return false;
  const uint8_t kind = p[4];
  const uint8_t variant = p[5];
  const int level = p[20];
  if (kind == 'h') {
    if (!((variant >= '0' && variant <= '7') || variant == 'd')) return false;
    return level == 0 || (level <= 3 && p[19] == 0x20);
  }
  if (kind == 'z') return level == 0 && (variant == 's' || variant == '4' || variant == '5');
  return false;
}

class Parser {
 public:
  Parser(std::span<const uint8_t> bytes, bool toFileEnd, MemberHeader& out)
      : b_(bytes.data()), n_(bytes.size()), toFileEnd_(toFileEnd), h_(out) {}

  HeaderParse Run() {
    h_ = MemberHeader{};
    if (n_ == 0 || b_[0] == 0) return {HeaderParse::EndOfArchive};
    if (!Have(kRecognise)) return Short(kRecognise);
    if (!LooksLikeHeader(b_)) return Bad(HeaderFault::NotLzh);
    h_.level = b_[20];
    h_.method.assign(reinterpret_cast<const char*>(b_ + 2), 5);
    h_.directory = h_.method == "-lhd-";
    HeaderParse r;
    switch (h_.level) {
      case 0:
        r = Level0();
        break;
      case 1:
        r = Level1();
        break;
      case 2:
        r = Level2();
        break;
      default:
        r = Level3();
        break;
    }
    if (r.status != HeaderParse::Complete) return r;
    if (h_.span > kMaxHeaderBytes) return Bad(HeaderFault::TooLarge);
    if (h_.packedSize > kMaxDeclaredSize || h_.originalSize > kMaxDeclaredSize) return Bad(HeaderFault::BadSize);
    return r;
  }

 private:
  bool Have(std::size_t count) const { return n_ >= count; }
  HeaderParse Short(std::size_t count) const {
    if (toFileEnd_) return Bad(HeaderFault::Truncated);
    HeaderParse r{HeaderParse::NeedMore};
    r.needed = count;
    return r;
  }
  static HeaderParse Bad(HeaderFault fault) {
    HeaderParse r{HeaderParse::Fault};
    r.fault = fault;
    return r;
  }
  static HeaderParse Done() { return {HeaderParse::Complete}; }

  uint8_t Sum(std::size_t from, std::size_t to) const {
    unsigned sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += b_[i];
    return static_cast<uint8_t>(sum);
  }

  HeaderParse Level0() {
    if (!Have(24)) return Short(24);
    const std::size_t size = std::size_t{b_[0]} + 2;
    const std::size_t nameLength = b_[21];
    if (nameLength > 221 || size < 24 + nameLength) return Bad(HeaderFault::BadLayout);
    if (!Have(size)) return Short(size);
    h_.nameBytes = UpToNul(b_ + 22, nameLength);
    h_.dataCrc = Le16(b_ + 22 + nameLength);
    if (Sum(2, size) != b_[1]) return Bad(HeaderFault::BadChecksum);
    // LHa for UNIX appends its own fixed block: 'U', minor version, time, mode, uid, gid.
    const uint8_t* extra = b_ + 24 + nameLength;
    if (size - 24 - nameLength == 12 && extra[0] == 'U') h_.unixMode = Le16(extra + 6);
    h_.packedSize = Le32(b_ + 7);
    h_.originalSize = Le32(b_ + 11);
    h_.span = size;
    return Done();
  }

  HeaderParse Level1() {
    if (!Have(27)) return Short(27);
    const std::size_t size = std::size_t{b_[0]} + 2;
    const std::size_t nameLength = b_[21];
    if (nameLength > 230 || size < 27 + nameLength) return Bad(HeaderFault::BadLayout);
    if (!Have(size)) return Short(size);
    if (std::find(b_ + 22, b_ + 22 + nameLength, uint8_t{0xFF}) != b_ + 22 + nameLength) {
      return Bad(HeaderFault::BadLayout);
    }
    h_.nameBytes = UpToNul(b_ + 22, nameLength);
    h_.dataCrc = Le16(b_ + 22 + nameLength);
    if (Sum(2, size) != b_[1]) return Bad(HeaderFault::BadChecksum);
    // The "skip size" covers the extensions and the data; what the
    // extensions take is subtracted once they are read.
    h_.packedSize = Le32(b_ + 7);
    h_.originalSize = Le32(b_ + 11);
    const uint64_t limit = h_.packedSize + 2;
    std::size_t total = 0;
    HeaderParse r = Chain(size - 2, 2, limit, total);
    if (r.status != HeaderParse::Complete) return r;
    // A 64-bit size extension replaces the skip size read above, and may
    // claim less than the extensions already took.
    if (h_.packedSize < total - 2) return Bad(HeaderFault::BadSize);
    h_.packedSize -= total - 2;
    h_.span = size - 2 + total;
    if (h_.headerCrcAt && HeaderCrc({b_, h_.span}, h_) != Le16(b_ + *h_.headerCrcAt)) {
      return Bad(HeaderFault::BadHeaderCrc);
    }
    return Done();
  }

  HeaderParse Level2() {
    if (!Have(24)) return Short(24);
    const std::size_t size = Le16(b_);
    if (size < 24) return Bad(HeaderFault::BadLayout);
    h_.packedSize = Le32(b_ + 7);
    h_.originalSize = Le32(b_ + 11);
    h_.dataCrc = Le16(b_ + 21);
    std::size_t total = 0;
    HeaderParse r = Chain(24, 2, size - 24, total);
    if (r.status != HeaderParse::Complete) return r;
    // Whatever the chain leaves of the declared size is padding (normally
    // none, or one byte so the size never ends in a zero byte).
    if (!Have(size)) return Short(size);
    h_.span = size;
    return CheckCrc();
  }

  HeaderParse Level3() {
    if (!Have(28)) return Short(28);
    if (Le16(b_) != 4) return Bad(HeaderFault::BadLayout);
    const uint32_t size = Le32(b_ + 24);
    // Checked before anything else: this is the field that would make a
    // reader buffer gigabytes.
    if (size > kMaxHeaderBytes) return Bad(HeaderFault::TooLarge);
    if (size < 32) return Bad(HeaderFault::BadLayout);
    h_.packedSize = Le32(b_ + 7);
    h_.originalSize = Le32(b_ + 11);
    h_.dataCrc = Le16(b_ + 21);
    std::size_t total = 0;
    HeaderParse r = Chain(28, 4, size - 28, total);
    if (r.status != HeaderParse::Complete) return r;
    h_.span = 28 + total;
    return CheckCrc();
  }

  HeaderParse CheckCrc() {
    if (!h_.headerCrcAt) return Bad(HeaderFault::BadHeaderCrc);
    if (HeaderCrc({b_, h_.span}, h_) != Le16(b_ + *h_.headerCrcAt)) return Bad(HeaderFault::BadHeaderCrc);
    return Done();
  }

  // Reads the extension chain from `start`. `total` counts the closing size
  // field plus every extension, the way `limit` is meant.
  HeaderParse Chain(std::size_t start, std::size_t field, uint64_t limit, std::size_t& total) {
    h_.chainStart = start;
    h_.sizeFieldBytes = field;
    total = field;
    std::size_t pos = start;
    for (;;) {
      if (pos + field > kMaxHeaderBytes) return Bad(HeaderFault::TooLarge);
      if (!Have(pos + field)) return Short(pos + field);
      const uint64_t size = field == 2 ? Le16(b_ + pos) : Le32(b_ + pos);
      if (size == 0) return Done();
      if (total + size > limit || size <= field) return Bad(HeaderFault::BadExtension);
      if (pos + size > kMaxHeaderBytes) return Bad(HeaderFault::TooLarge);
      if (!Have(pos + size)) return Short(pos + size);
      const Extension ext{pos, static_cast<std::size_t>(size), b_[pos + field]};
      if (!TakeExtension(ext)) return Bad(HeaderFault::BadExtension);
      h_.extensions.push_back(ext);
      total += ext.size;
      pos += ext.size;
    }
  }

  bool TakeExtension(const Extension& ext) {
    const uint8_t* data = b_ + ext.offset + h_.sizeFieldBytes + 1;
    const std::size_t length = ext.size - h_.sizeFieldBytes - 1;
    switch (ext.type) {
      case 0x00:
        if (length >= 2) h_.headerCrcAt = ext.offset + h_.sizeFieldBytes + 1;
        return true;
      case 0x01:
        if (length > 0 && data[0] == 0) return false;
        h_.nameBytes = UpToNul(data, length);
        return true;
      case 0x02: {
        h_.dirBytes = UpToNul(data, length);
        if (h_.dirBytes.empty()) return false;
        const auto last = static_cast<uint8_t>(h_.dirBytes.back());
        return last == 0xFF || last == '/';
      }
      case 0x42:
        if (length == 16) {
          h_.packedSize = Le64(data);
          h_.originalSize = Le64(data + 8);
        }
        return true;
      case 0x44:
        h_.utf16Name.emplace(reinterpret_cast<const char*>(data), length);
        return true;
      case 0x45:
        h_.utf16Dir.emplace(reinterpret_cast<const char*>(data), length);
        return true;
      case 0x46:
        if (length == 4) h_.codePage = Le32(data);
        return true;
      case 0x50:
        if (length == 2) h_.unixMode = Le16(data);
        return true;
      case 0x7F:
        if (length == 16) h_.unixMode = Le16(data + 2);
        return true;
      case 0xFF:
        if (length == 20) h_.unixMode = static_cast<uint16_t>(Le32(data));
        return true;
      default:
        return true;
    }
  }

  const uint8_t* b_;
  std::size_t n_;
  bool toFileEnd_;
  MemberHeader& h_;
};

}  // namespace

HeaderParse ParseHeader(std::span<const uint8_t> bytes, bool toFileEnd, MemberHeader& out) {
  return Parser(bytes, toFileEnd, out).Run();
}

uint16_t HeaderCrc(std::span<const uint8_t> header, const MemberHeader& h) {
  const uint8_t* b = header.data();
  const std::size_t field = h.sizeFieldBytes;
  uint16_t crc = Crc16(0, b, h.chainStart);
  std::size_t end = h.chainStart;
  static constexpr uint8_t kZeros[2] = {0, 0};
  for (const Extension& ext : h.extensions) {
    const uint8_t* p = b + ext.offset;
    if (ext.type == 0x00) {
      // A CRC extension counts with its value as zero; one too short to
      // hold a value is left out altogether, as readers do.
      if (ext.size >= field + 3) {
        crc = Crc16(crc, p, field + 1);
        crc = Crc16(crc, kZeros, 2);
        crc = Crc16(crc, p + field + 3, ext.size - field - 3);
      }
    } else {
      crc = Crc16(crc, p, ext.size);
    }
    end = ext.offset + ext.size;
  }
  // The closing size field and any padding up to the end of the span.
  return Crc16(crc, b + end, header.size() - end);
}

void NeutraliseNameExtensions(std::span<uint8_t> header, const MemberHeader& h) {
  bool changed = false;
  for (const Extension& ext : h.extensions) {
    if (ext.type == 0x44 || ext.type == 0x45 || ext.type == 0x46) {
      header[ext.offset + h.sizeFieldBytes] = kIgnoredExtension;
      changed = true;
    }
  }
  if (!changed || !h.headerCrcAt) return;
  const uint16_t crc = HeaderCrc(header, h);
  header[*h.headerCrcAt] = static_cast<uint8_t>(crc & 0xFF);
  header[*h.headerCrcAt + 1] = static_cast<uint8_t>(crc >> 8);
}

}  // namespace zr::lzh
