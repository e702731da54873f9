#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Page 0 of a Jet database: which format it is and the database password it
// holds. libmdb never looks at the password, so the check is made here.
namespace zr::jet::detail {

enum class Format { Jet3, Jet4 };

struct Header {
  Format format;
  std::size_t pageSize;
  uint16_t codePage;
  // The stored password as stored, cut at its terminator: UTF-16LE bytes for
  // Jet 4, bytes in the file's code page for Jet 3. Empty = none.
  std::string password;
};

enum class HeaderProblem { None, TooShort, NotJet, Ace, Damaged };

// Decodes the first page. `page` may be longer or shorter than a page;
// anything that is not a Jet 3 or Jet 4 header page is reported, never read
// past.
HeaderProblem DecodeHeader(std::span<const unsigned char> page, Header& out);

// The ";PWD=..." part of a connect string (keyword without regard to case);
// empty when there is none.
std::string PasswordFromConnect(std::string_view connect);

// Whether `supplied` (UTF-8) opens a database holding `header`'s password:
// a database without one opens with any; otherwise the two must be equal
// unit for unit, case included.
bool PasswordOpens(const Header& header, std::string_view supplied);

// The 128 fixed bytes that mask 0x18..0x97 of page 0 (RC4 with a constant key).
const unsigned char* HeaderKeyStream();

}  // namespace zr::jet::detail
