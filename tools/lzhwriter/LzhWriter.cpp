#include "tools/lzhwriter/LzhWriter.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <optional>
#include <stdexcept>

#include "platform/lzh/Crc16.h"
#include "platform/runtime/TextConversion.h"

namespace zr::lzh::writer {
namespace {

void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}
void Put64(std::string& s, uint64_t v) {
  Put32(s, static_cast<uint32_t>(v));
  Put32(s, static_cast<uint32_t>(v >> 32));
}
void Set16(std::string& s, std::size_t at, uint32_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void Set32(std::string& s, std::size_t at, uint32_t v) {
  Set16(s, at, v & 0xFFFF);
  Set16(s, at + 2, v >> 16);
}

uint16_t Crc(const std::string& s) { return Crc16(0, s.data(), s.size()); }

uint32_t DosTime(int64_t unixTime) {
  std::time_t t = static_cast<std::time_t>(unixTime);
  std::tm tm{};
  gmtime_r(&t, &tm);
  const uint32_t date = static_cast<uint32_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday) & 0xFFFF;
  const uint32_t time = static_cast<uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2)) & 0xFFFF;
  return (date << 16) | time;
}

struct Names {
  std::string full;  // level 0: folders and name with "\" between
  std::string file;  // the name alone
  std::string dir;   // extension 0x02 payload: folders each followed by 0xFF
};

Names SplitName(const Member& m) {
  const std::string encoded = m.cp932Names ? Utf8ToCp932(m.path) : m.path;
  Names n;
  // Split only on the ASCII separators of the *encoded* bytes outside
  // double-byte characters, so a CP932 trail byte 0x5C stays in its name.
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const auto c = static_cast<unsigned char>(encoded[i]);
    const bool lead = m.cp932Names && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
    if (lead && i + 1 < encoded.size()) {
      parts.back() += encoded.substr(i, 2);
      ++i;
    } else if (c == '\\' || c == '/') {
      parts.emplace_back();
    } else {
      parts.back() += static_cast<char>(c);
    }
  }
  n.file = parts.back();
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    n.full += parts[i] + "\\";
    n.dir += parts[i] + "\xFF";
  }
  n.full += n.file;
  if (m.faults.rawName) {
    n.full = *m.faults.rawName;
    n.file = *m.faults.rawName;
  }
  if (m.faults.rawDir) n.dir = *m.faults.rawDir;
  return n;
}

// Extensions for levels 1-3: `field` is the width of each size field.
std::string Extension(std::size_t field, uint8_t type, const std::string& payload) {
  std::string e;
  const std::size_t size = field + 1 + payload.size();
  if (field == 2) {
    Put16(e, static_cast<uint32_t>(size));
  } else {
    Put32(e, static_cast<uint32_t>(size));
  }
  e += static_cast<char>(type);
  return e + payload;
}

}  // namespace

std::string MethodId(Method method) {
  switch (method) {
    case Method::Lh0:
      return "-lh0-";
    case Method::Lh5:
      return "-lh5-";
    case Method::Lh6:
      return "-lh6-";
    case Method::Lh7:
      return "-lh7-";
  }
  return "-lh0-";
}

Member MakeMember(std::string path, std::string data, int level, Method method) {
  Member m;
  m.path = std::move(path);
  m.data = std::move(data);
  m.level = level;
  m.method = method;
  return m;
}

std::string Utf8ToCp932(const std::string& utf8) {
  rt::TextConverter converter(rt::kUtf8, rt::kCp932);
  if (!converter.Usable()) throw std::runtime_error("no CP932 converter");
  std::optional<std::string> out = converter.Convert(utf8);
  if (!out) throw std::runtime_error("not representable in CP932: " + utf8);
  return *out;
}

std::string EncodeMember(const Member& m) {
  const Faults& f = m.faults;
  const std::string packed = f.methodId ? m.data : Compress(m.data, m.method);
  const std::string method = f.methodId ? *f.methodId : MethodId(m.method);
  if (method.size() != 5) throw std::invalid_argument("method id must have five characters");
  uint16_t dataCrc = Crc16(0, m.data.data(), m.data.size());
  if (f.dataCrc) dataCrc = static_cast<uint16_t>(dataCrc + 1);
  const int64_t original = f.originalSize.value_or(static_cast<int64_t>(m.data.size()));
  const int64_t packedSize = f.packedSize.value_or(static_cast<int64_t>(packed.size()));
  const Names names = SplitName(m);
  const uint8_t attribute = f.attribute.value_or(0x20);

  std::string h;
  if (m.level == 0) {
    if (names.full.size() > 221) throw std::invalid_argument("level-0 name too long");
    h += '\0';  // size, set below
    h += '\0';  // checksum
    h += method;
    Put32(h, static_cast<uint32_t>(packedSize));
    Put32(h, static_cast<uint32_t>(original));
    Put32(h, DosTime(m.mtime));
    h += static_cast<char>(attribute);
    h += '\0';
    h += static_cast<char>(names.full.size());
    h += names.full;
    Put16(h, dataCrc);
    for (const std::string& extra : f.extensions) h += extra;  // the free-form area after the CRC
    h[0] = static_cast<char>(h.size() - 2);
    unsigned sum = 0;
    for (std::size_t i = 2; i < h.size(); ++i) sum += static_cast<unsigned char>(h[i]);
    h[1] = static_cast<char>((sum + (f.headerSum ? 1 : 0)) & 0xFF);
    return h + packed;
  }

  const std::size_t field = m.level == 3 ? 4 : 2;
  std::vector<std::string> exts;
  const bool withCrc = !f.omitHeaderCrc;
  if (withCrc) exts.push_back(Extension(field, 0x00, std::string(2, '\0')));
  if (m.codePage) {
    std::string cp;
    Put32(cp, *m.codePage);
    exts.push_back(Extension(field, 0x46, cp));
  }
  if (m.level >= 2) exts.push_back(Extension(field, 0x01, names.file));
  if (!names.dir.empty()) exts.push_back(Extension(field, 0x02, names.dir));
  if (f.size64) {
    std::string sizes;
    Put64(sizes, static_cast<uint64_t>(packedSize));
    Put64(sizes, static_cast<uint64_t>(original));
    exts.push_back(Extension(field, 0x42, sizes));
  }
  for (const std::string& extra : f.extensions) {
    exts.push_back(Extension(field, static_cast<uint8_t>(extra.at(0)), extra.substr(1)));
  }
  std::string chain;
  for (const std::string& e : exts) chain += e;
  const std::size_t crcAt = 3 + (field - 2);  // inside the first extension, after size and type

  if (m.level == 1) {
    if (names.file.size() > 230) throw std::invalid_argument("level-1 name too long");
    h += '\0';
    h += '\0';
    h += method;
    // The "skip size" spans the extensions after the base header and the data.
    Put32(h, static_cast<uint32_t>(packedSize + static_cast<int64_t>(chain.size())));
    Put32(h, static_cast<uint32_t>(original));
    Put32(h, DosTime(m.mtime));
    h += static_cast<char>(attribute);
    h += '\x01';
    h += static_cast<char>(names.file.size());
    h += names.file;
    Put16(h, dataCrc);
    h += m.osId;
    // The first extension's size field closes the base header.
    const std::size_t base = h.size();
    h += chain;
    Put16(h, 0);
    h[0] = static_cast<char>(base + 2 - 2);
    unsigned sum = 0;
    for (std::size_t i = 2; i < base + 2; ++i) sum += static_cast<unsigned char>(h[i]);
    h[1] = static_cast<char>((sum + (f.headerSum ? 1 : 0)) & 0xFF);
    if (withCrc) Set16(h, base + crcAt, static_cast<uint16_t>(Crc(h) + (f.headerCrc ? 1 : 0)));
    return h + packed;
  }

  if (m.level == 2) {
    Put16(h, 0);  // total size, set below
    h += method;
    Put32(h, static_cast<uint32_t>(packedSize));
    Put32(h, static_cast<uint32_t>(original));
    Put32(h, static_cast<uint32_t>(m.mtime));
    h += static_cast<char>(attribute);
    h += '\x02';
    Put16(h, dataCrc);
    h += m.osId;
    h += chain;
    Put16(h, 0);
    // A size ending in a zero byte would read as the end mark.
    if ((h.size() & 0xFF) == 0 && !f.noPadding) h += '\0';
    Set16(h, 0, static_cast<uint32_t>(h.size()));
    if (withCrc) Set16(h, 24 + crcAt, static_cast<uint16_t>(Crc(h) + (f.headerCrc ? 1 : 0)));
    return h + packed;
  }

  if (m.level == 3) {
    Put16(h, 4);
    h += method;
    Put32(h, static_cast<uint32_t>(packedSize));
    Put32(h, static_cast<uint32_t>(original));
    Put32(h, static_cast<uint32_t>(m.mtime));
    h += static_cast<char>(attribute);
    h += '\x03';
    Put16(h, dataCrc);
    h += m.osId;
    Put32(h, 0);  // total size, set below
    h += chain;
    Put32(h, 0);
    Set32(h, 24, f.headerSize.value_or(static_cast<uint32_t>(h.size())));
    if (withCrc) Set16(h, 28 + crcAt, static_cast<uint16_t>(Crc(h) + (f.headerCrc ? 1 : 0)));
    return h + packed;
  }
  throw std::invalid_argument("header level must be 0 to 3");
}

std::string BuildArchive(const std::vector<Member>& members, bool endMark) {
  std::string out;
  for (const Member& m : members) out += EncodeMember(m);
  if (endMark) out += '\0';
  return out;
}

void WriteArchiveFile(const std::string& path, const std::vector<Member>& members, bool endMark) {
  const std::string bytes = BuildArchive(members, endMark);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) throw std::runtime_error("cannot write " + path);
}

}  // namespace zr::lzh::writer
