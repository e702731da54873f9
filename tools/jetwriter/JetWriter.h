#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// A small Jet 4 (Access 2000 format) writer for tests and the demo: tables
// of text columns only, no indexes, no long values. Files it makes are read
// by libmdb and by other Jet readers.
namespace zr::jet::writer {

// A cell: UTF-8 text (at most 255 UTF-16 units), or Null.
using Cell = std::optional<std::string>;
using Row = std::vector<Cell>;

struct Table {
  std::string name;
  std::vector<std::string> columns;  // each one Text(255)
  std::vector<Row> rows;             // stored in this order
};

struct Database {
  std::vector<Table> tables;
  // Database password: at most 20 UTF-16 units, no U+0000; empty = none.
  std::string password;
  // OLE automation date (days since 1899-12-30); must be positive. Its
  // integer part masks the stored password.
  double creationDate = 45000.5;
  uint16_t codePage = 1252;
  uint16_t sortOrder = 0x0409;
};

// The table the suite keeps its control items in: XC_CONTROL(ITEM, VALUECHAR).
Table ControlTable(const std::vector<std::pair<Cell, Cell>>& rows);

// The whole file image. Throws std::invalid_argument when the description
// cannot be stored (password too long, text too long, bad UTF-8, ...).
std::string Build(const Database& database);

// Builds and writes the file (replacing any existing one); throws
// std::runtime_error when it cannot be written.
void Write(const std::filesystem::path& path, const Database& database);

}  // namespace zr::jet::writer
