#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/jet/Query.h"

// Reading through libmdb, in whatever process calls it. libmdb trusts the
// file it reads, so the engine runs these in its helper program (ReadHelper.h).
namespace zr::jet::detail {

enum class ReadStatus : uint8_t { Ok = 0, Unreadable = 1, NoTable = 2, NoColumn = 3 };

struct ReadOutcome {
  ReadStatus status = ReadStatus::Unreadable;
  std::vector<std::optional<std::string>> values;  // the selected column, matching rows in stored order
  std::string missing;                             // the table or column that was not found
  uint64_t pagesRead = 0;                          // pages read after the catalog
};

// Opens the database on `fd` and reads its catalog.
ReadOutcome ReadCatalog(int fd);

// Answers `query` from the database on `fd`: a table scan in stored order,
// deleted rows left out, text compared without regard to case.
ReadOutcome ReadSelect(int fd, const SelectQuery& query);

// Jet 4 text as stored (plain UTF-16LE or the compressed form) as UTF-8.
std::string DecodeJet4Text(const unsigned char* bytes, std::size_t size);

}  // namespace zr::jet::detail
