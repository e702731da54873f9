#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A small LZH archive writer for tests, the benchmark and the demo data:
// header levels 0, 1 and 2 (3 for tests), stored or -lh5-/-lh6-/-lh7-
// compressed members, Windows-style names in CP932, and deliberately
// broken variants.
namespace zr::lzh::writer {

enum class Method { Lh0, Lh5, Lh6, Lh7 };

// Deliberate damage, all off by default.
struct Faults {
  bool headerSum = false;               // level 0/1: header checksum off by one
  bool headerCrc = false;               // levels 1-3: stored header CRC off by one
  bool omitHeaderCrc = false;           // levels 1-3: no header CRC extension
  bool dataCrc = false;                 // stored data CRC off by one
  std::optional<int64_t> originalSize;  // declared original size instead of the real one
  std::optional<int64_t> packedSize;    // declared packed size instead of the real one
  bool size64 = false;                  // levels 1-3: sizes also in extension 0x42 (64-bit)
  std::optional<std::string> rawName;   // stored name bytes verbatim (the whole path at level 0)
  std::optional<std::string> rawDir;    // extension 0x02 payload verbatim (levels 1-3)
  std::vector<std::string> extensions;  // extra extensions: type byte followed by payload
  std::optional<uint32_t> headerSize;   // level 3: declared total header size
  std::optional<std::string> methodId;  // five characters such as "-lh1-"; `data` is then the packed bytes
  bool noPadding = false;               // level 2: omit the padding byte a zero low size byte needs
  std::optional<uint8_t> attribute;     // byte 19 (0x20 at levels 1-3)
};

struct Member {
  std::string path;  // UTF-8, "\" or "/" between folders: "Data\\ZrXXComn.wf6"
  std::string data;  // the member's content
  int level = 2;
  Method method = Method::Lh0;
  bool cp932Names = true;            // false: the path's bytes are stored as they are
  std::optional<uint32_t> codePage;  // levels 1-3: adds extension 0x46 (932, 65001, ...)
  int64_t mtime = 1704164646;        // seconds since 1970, UTC (2024-01-02 03:04:06)
  char osId = 'M';
  Faults faults;
};

// A member with every other setting at its default.
Member MakeMember(std::string path, std::string data, int level = 2, Method method = Method::Lh0);

// One member: header followed by its packed data.
std::string EncodeMember(const Member& member);

// A whole archive; `endMark` appends the closing zero byte.
std::string BuildArchive(const std::vector<Member>& members, bool endMark = true);

// Writes BuildArchive(...) to `path`; throws std::runtime_error on failure.
void WriteArchiveFile(const std::string& path, const std::vector<Member>& members, bool endMark = true);

// The packed form of `data` for a compressed method (the stored form for Lh0).
std::string Compress(const std::string& data, Method method);

// UTF-8 to CP932; throws std::runtime_error for text CP932 cannot hold.
std::string Utf8ToCp932(const std::string& utf8);

// The five-character method id: "-lh0-", "-lh5-", ...
std::string MethodId(Method method);

}  // namespace zr::lzh::writer
