#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Our own reading of LZH member headers (levels 0 to 3). The extractor vets
// every header with it before libarchive sees the bytes, takes names, sizes
// and the data CRC from it, and checks that libarchive consumed exactly the
// span computed here, so both always talk about the same member.
namespace zr::lzh {

// No genuine header comes near this; level 3 could declare up to 4 GiB.
inline constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
// Sizes above this would turn negative in readers that keep them signed
// (libarchive does); only the 64-bit size extension can declare them.
inline constexpr uint64_t kMaxDeclaredSize = 0x7FFFFFFFFFFFFFFFULL;

enum class HeaderFault {
  None,
  NotLzh,        // no member header where one must start
  Truncated,     // the file ends inside the header or the member's data
  BadChecksum,   // level 0/1 header sum
  BadHeaderCrc,  // level 2/3 header CRC, or none there
  BadLayout,     // sizes and fields that contradict each other
  BadExtension,  // a malformed extension header
  TooLarge,      // a header over kMaxHeaderBytes
  BadSize,       // a packed or original size beyond what a signed 64-bit reader can hold
};

// Where an extension header sits inside the header bytes.
struct Extension {
  std::size_t offset = 0;  // of its size field
  std::size_t size = 0;    // including the size and type fields
  uint8_t type = 0;
};

struct MemberHeader {
  int level = 0;
  std::string method;       // five characters, "-lh5-"
  std::size_t span = 0;     // header bytes before the member's data
  uint64_t packedSize = 0;  // at most kMaxDeclaredSize
  uint64_t originalSize = 0;
  uint16_t dataCrc = 0;
  bool directory = false;  // -lhd-
  std::optional<uint16_t> unixMode;

  // The stored name as the header holds it: the full path at level 0, the
  // file name otherwise; `directory` bytes use 0xFF (or "/") between parts.
  std::string nameBytes;
  std::string dirBytes;
  std::optional<uint32_t> codePage;      // extension 0x46
  std::optional<std::string> utf16Name;  // extension 0x44, UTF-16LE bytes
  std::optional<std::string> utf16Dir;   // extension 0x45, 0xFFFF between parts

  std::vector<Extension> extensions;
  std::size_t chainStart = 0;  // first extension size field (levels 1-3)
  std::size_t sizeFieldBytes = 2;
  std::optional<std::size_t> headerCrcAt;  // the stored header CRC (last 0x00 extension)
};

struct HeaderParse {
  enum Status { Complete, NeedMore, EndOfArchive, Fault } status = Fault;
  std::size_t needed = 0;  // with NeedMore: bytes wanted from the header start
  HeaderFault fault = HeaderFault::None;
};

// Parses the header at the start of `bytes`. `bytes` holds what the file has
// from there on, up to some limit; `toFileEnd` says whether it reaches the
// end of the file (so a short buffer is a truncation, not a request for more).
HeaderParse ParseHeader(std::span<const uint8_t> bytes, bool toFileEnd, MemberHeader& out);

// The header CRC as levels 2 and 3 define it, computed over `header` (its
// full span) with the stored CRC values counted as zero.
uint16_t HeaderCrc(std::span<const uint8_t> header, const MemberHeader& h);

// Rewrites a parsed header so that libarchive never converts a name that
// could fail it: the code-page and UTF-16 name extensions are turned into
// an extension type readers ignore (the names are decoded from our own
// parse), and the header CRC is brought up to date.
void NeutraliseNameExtensions(std::span<uint8_t> header, const MemberHeader& h);

}  // namespace zr::lzh
