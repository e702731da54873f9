#include "tools/jetwriter/JetWriter.h"

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "platform/jet/Header.h"
#include "platform/runtime/Text.h"

namespace zr::jet::writer {
namespace {

constexpr size_t kPageSize = 4096;
constexpr size_t kDataPageHeader = 14;
constexpr uint32_t kMagic = 1625;
constexpr size_t kMinMapBytes = 64;

void Put16(std::string& b, size_t at, uint32_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

void PutDouble(std::string& b, size_t at, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  Put32(b, at, static_cast<uint32_t>(bits));
  Put32(b, at + 4, static_cast<uint32_t>(bits >> 32));
}

std::string Le16(uint32_t v) {
  std::string s(2, '\0');
  Put16(s, 0, v);
  return s;
}

std::u16string Utf16(const std::string& text) {
  std::u16string out;
  if (!rt::Utf8ToUtf16(text, out)) throw std::invalid_argument("not UTF-8: " + text);
  return out;
}

std::string Utf16Bytes(const std::u16string& units) {
  std::string out;
  for (char16_t u : units) out += Le16(u);
  return out;
}

// Plain UTF-16LE as every reader takes it; a leading U+FEFF would read as
// the compressed-text marker, so it cannot be stored this way.
std::string TextValue(const std::string& utf8, size_t maxUnits) {
  std::u16string units = Utf16(utf8);
  if (units.size() > maxUnits)
    throw std::invalid_argument("text longer than " + std::to_string(maxUnits) + ": " + utf8);
  if (!units.empty() && units[0] == 0xFEFF) throw std::invalid_argument("text starting with U+FEFF: " + utf8);
  return Utf16Bytes(units);
}

std::string HeaderPage(const Database& db) {
  if (!std::isfinite(db.creationDate) || db.creationDate <= 0 || db.creationDate >= 2147483647.0) {
    throw std::invalid_argument("creation date must be a positive OLE date");
  }
  std::u16string pwd = Utf16(db.password);
  if (pwd.size() > 20) throw std::invalid_argument("password longer than 20 characters");
  for (char16_t u : pwd) {
    if (u == 0) throw std::invalid_argument("password holding U+0000");
  }

  std::string p(kPageSize, '\0');
  p[1] = 1;
  const char engine[] = "Standard Jet DB";
  std::memcpy(&p[4], engine, sizeof engine);
  p[0x14] = 1;
  Put16(p, 0x3C, db.codePage);
  Put32(p, 0x3E, 0);
  auto dayMask = static_cast<uint32_t>(static_cast<int32_t>(db.creationDate));
  std::string stored = Utf16Bytes(pwd);
  stored.resize(40, '\0');
  for (size_t i = 0; i < 40; ++i) {
    p[0x42 + i] = static_cast<char>(static_cast<uint8_t>(stored[i]) ^ ((dayMask >> (8 * (i % 4))) & 0xFF));
  }
  Put16(p, 0x6E, db.sortOrder);
  PutDouble(p, 0x72, db.creationDate);
  const unsigned char* keys = detail::HeaderKeyStream();
  for (size_t i = 0; i < 128; ++i) p[0x18 + i] = static_cast<char>(static_cast<uint8_t>(p[0x18 + i]) ^ keys[i]);
  return p;
}

enum ColumnType : uint8_t {
  kLong = 0x04,
  kInt = 0x03,
  kDateTime = 0x08,
  kBinary = 0x09,
  kText = 0x0A,
  kOle = 0x0B,
  kMemo = 0x0C
};

struct ColumnDef {
  std::string name;
  uint8_t type;
  uint16_t length;
  bool fixed = false;
  uint16_t fixedOffset = 0;
  uint16_t varIndex = 0;
};

struct TableDef {
  std::string name;
  uint8_t tableType;
  std::vector<ColumnDef> columns;
  uint16_t fixedSize = 0;
  uint16_t varCount = 0;
};

// Lays out fixed and variable columns in column order.
TableDef MakeTableDef(std::string name, uint8_t tableType, std::vector<ColumnDef> columns) {
  TableDef t{std::move(name), tableType, std::move(columns)};
  for (auto& c : t.columns) {
    if (c.fixed) {
      c.fixedOffset = t.fixedSize;
      t.fixedSize = static_cast<uint16_t>(t.fixedSize + c.length);
    } else {
      c.varIndex = t.varCount++;
    }
  }
  return t;
}

// Raw stored bytes per column; nullopt = Null.
using RawRow = std::vector<std::optional<std::string>>;

std::string EncodeRow(const TableDef& t, const RawRow& cells) {
  std::string row = Le16(static_cast<uint32_t>(t.columns.size()));
  row.append(t.fixedSize, '\0');
  std::vector<uint16_t> varOffsets(t.varCount, 0);
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const auto& c = t.columns[i];
    if (c.fixed && cells[i]) row.replace(2 + c.fixedOffset, c.length, *cells[i]);
  }
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const auto& c = t.columns[i];
    if (c.fixed) continue;
    varOffsets[c.varIndex] = static_cast<uint16_t>(row.size());
    if (cells[i]) row += *cells[i];
  }
  if (t.varCount > 0) {
    uint16_t eod = static_cast<uint16_t>(row.size());
    row += Le16(eod);
    for (size_t v = t.varCount; v-- > 0;) row += Le16(varOffsets[v]);
    row += Le16(t.varCount);
  }
  std::string mask((t.columns.size() + 7) / 8, '\0');
  for (size_t i = 0; i < t.columns.size(); ++i) {
    if (cells[i]) mask[i / 8] = static_cast<char>(mask[i / 8] | (1 << (i % 8)));
  }
  row += mask;
  if (row.size() > kPageSize - kDataPageHeader - 2) throw std::invalid_argument("row too large for one page");
  return row;
}

std::string DataPage(uint32_t owner, const std::vector<std::string>& rows) {
  std::string p(kPageSize, '\0');
  p[0] = 1;
  p[1] = 1;
  Put32(p, 4, owner);
  Put16(p, 12, static_cast<uint32_t>(rows.size()));
  size_t start = kPageSize;
  size_t used = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    start -= rows[i].size();
    used += rows[i].size();
    p.replace(start, rows[i].size(), rows[i]);
    Put16(p, kDataPageHeader + 2 * i, static_cast<uint32_t>(start));
  }
  Put16(p, 2, static_cast<uint32_t>(kPageSize - kDataPageHeader - 2 * rows.size() - used));
  return p;
}

// Splits rows over as few data pages as they fit on, keeping their order.
std::vector<std::vector<std::string>> PackRows(const std::vector<std::string>& rows) {
  std::vector<std::vector<std::string>> pages;
  size_t used = kPageSize;
  for (const auto& r : rows) {
    if (pages.empty() || used + 2 + r.size() > kPageSize || pages.back().size() == 255) {
      pages.emplace_back();
      used = kDataPageHeader;
    }
    pages.back().push_back(r);
    used += 2 + r.size();
  }
  return pages;
}

std::string TdefPage(const TableDef& t, uint32_t rowCount, uint32_t ownedMap, uint32_t freeMap, uint16_t sortOrder) {
  std::string p(kPageSize, '\0');
  p[0] = 2;
  p[1] = 1;
  Put32(p, 12, kMagic);
  Put32(p, 16, rowCount);
  p[24] = 1;
  p[40] = static_cast<char>(t.tableType);
  auto count = static_cast<uint32_t>(t.columns.size());
  Put16(p, 41, count);
  Put16(p, 43, t.varCount);
  Put16(p, 45, count);
  Put32(p, 55, ownedMap);
  Put32(p, 59, freeMap);
  std::string def;
  for (uint32_t i = 0; i < count; ++i) {
    const auto& c = t.columns[i];
    std::string d(25, '\0');
    d[0] = static_cast<char>(c.type);
    Put32(d, 1, kMagic);
    Put16(d, 5, i);
    Put16(d, 7, c.varIndex);
    Put16(d, 9, i);
    if (c.type == kText) Put16(d, 11, sortOrder);
    d[15] = static_cast<char>(c.fixed ? 0x03 : 0x02);
    Put16(d, 21, c.fixedOffset);
    Put16(d, 23, c.length);
    def += d;
  }
  for (const auto& c : t.columns) {
    std::string name = Utf16Bytes(Utf16(c.name));
    def += Le16(static_cast<uint32_t>(name.size())) + name;
  }
  def += "\xFF\xFF";
  size_t end = 63 + def.size();
  if (end > kPageSize) throw std::invalid_argument("definition of table " + t.name + " does not fit one page");
  p.replace(63, def.size(), def);
  Put32(p, 8, static_cast<uint32_t>(end));
  Put16(p, 2, static_cast<uint32_t>(kPageSize - end - 8));
  return p;
}

TableDef CatalogDef() {
  return MakeTableDef("MSysObjects", 0x53,
                      {{"Id", kLong, 4, true},
                       {"ParentId", kLong, 4, true},
                       {"Name", kText, 510},
                       {"Type", kInt, 2, true},
                       {"DateCreate", kDateTime, 8, true},
                       {"DateUpdate", kDateTime, 8, true},
                       {"Owner", kBinary, 255},
                       {"Flags", kLong, 4, true},
                       {"Database", kMemo, 0},
                       {"Connect", kMemo, 0},
                       {"ForeignName", kText, 510},
                       {"RmtInfoShort", kBinary, 255},
                       {"RmtInfoLong", kOle, 0},
                       {"Lv", kOle, 0},
                       {"LvProp", kOle, 0},
                       {"LvModule", kOle, 0},
                       {"LvExtra", kOle, 0}});
}

std::string Long(uint32_t v) {
  std::string s(4, '\0');
  Put32(s, 0, v);
  return s;
}

std::string Date(double v) {
  std::string s(8, '\0');
  PutDouble(s, 0, v);
  return s;
}

RawRow CatalogRow(uint32_t id, uint32_t parent, const std::string& name, uint16_t type, uint32_t flags, double date) {
  RawRow r(17);
  r[0] = Long(id);
  r[1] = Long(parent);
  r[2] = TextValue(name, 255);
  r[3] = Le16(type);
  r[4] = Date(date);
  r[5] = Date(date);
  r[7] = Long(flags);
  return r;
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// Inline usage map row: type 0, first page 0, one bit per page.
std::string MapRow(size_t mapBytes, const std::vector<uint32_t>& pages) {
  std::string r(5 + mapBytes, '\0');
  for (uint32_t pg : pages) r[5 + pg / 8] = static_cast<char>(r[5 + pg / 8] | (1 << (pg % 8)));
  return r;
}

}  // namespace

Table ControlTable(const std::vector<std::pair<Cell, Cell>>& rows) {
  Table t{"XC_CONTROL", {"ITEM", "VALUECHAR"}, {}};
  for (const auto& [item, value] : rows) t.rows.push_back({item, value});
  return t;
}

std::string Build(const Database& db) {
  const uint32_t kTables = 0x0F000001, kRoot = 0x0F000000;
  const uint32_t kSystem = 0x80000000;

  std::vector<TableDef> defs;
  std::vector<std::vector<std::string>> rowBytes;
  for (const auto& t : db.tables) {
    if (t.name.empty() || t.columns.empty()) throw std::invalid_argument("table without a name or columns");
    if (SameNameIgnoringCase(t.name, "MSysObjects")) throw std::invalid_argument("reserved table name");
    for (const auto& d : defs) {
      if (SameNameIgnoringCase(d.name, t.name)) throw std::invalid_argument("two tables named " + t.name);
    }
    std::vector<ColumnDef> cols;
    for (const auto& c : t.columns) {
      if (c.empty()) throw std::invalid_argument("column without a name in " + t.name);
      cols.push_back({c, kText, 510});
    }
    defs.push_back(MakeTableDef(t.name, 0x4E, cols));
    std::vector<std::string> encoded;
    for (const auto& row : t.rows) {
      if (row.size() != t.columns.size()) throw std::invalid_argument("row width differs from " + t.name);
      RawRow raw;
      for (const auto& cell : row) {
        raw.push_back(cell ? std::optional<std::string>(TextValue(*cell, 255)) : std::nullopt);
      }
      encoded.push_back(EncodeRow(defs.back(), raw));
    }
    rowBytes.push_back(std::move(encoded));
  }

  // Pages: 0 header, 1 global map, 2 catalog definition, 3 usage maps, then
  // the catalog's rows, then each table's definition and rows.
  const TableDef catalog = CatalogDef();
  std::vector<RawRow> catalogRows = {
      CatalogRow(kTables, kRoot, "Tables", 3, kSystem, db.creationDate),
      CatalogRow(0x0F000002, kRoot, "Databases", 3, kSystem, db.creationDate),
      CatalogRow(0x0F000003, kRoot, "Relationships", 3, kSystem, db.creationDate),
      CatalogRow(2, kTables, "MSysObjects", 1, kSystem, db.creationDate),
  };
  for (const auto& d : defs) catalogRows.push_back(CatalogRow(0, kTables, d.name, 1, 0, db.creationDate));

  auto encodeCatalog = [&] {
    std::vector<std::string> out;
    for (const auto& r : catalogRows) out.push_back(EncodeRow(catalog, r));
    return PackRows(out);
  };
  auto catalogPages = encodeCatalog();
  uint32_t next = 4 + static_cast<uint32_t>(catalogPages.size());
  std::vector<uint32_t> catalogData;
  for (uint32_t i = 0; i < catalogPages.size(); ++i) catalogData.push_back(4 + i);

  std::vector<uint32_t> tdefPage;
  std::vector<std::vector<std::vector<std::string>>> tablePages;
  std::vector<std::vector<uint32_t>> tableData;
  for (size_t i = 0; i < defs.size(); ++i) {
    tdefPage.push_back(next++);
    tablePages.push_back(PackRows(rowBytes[i]));
    tableData.emplace_back();
    for (size_t k = 0; k < tablePages.back().size(); ++k) tableData.back().push_back(next++);
    catalogRows[4 + i][0] = Long(tdefPage.back());
  }
  catalogPages = encodeCatalog();
  const uint32_t pageCount = next;

  const size_t mapBytes = std::max(kMinMapBytes, (static_cast<size_t>(pageCount) + 7) / 8);
  std::vector<std::string> mapRows = {MapRow(mapBytes, catalogData), MapRow(mapBytes, catalogData)};
  for (const auto& pages : tableData) {
    mapRows.push_back(MapRow(mapBytes, pages));
    mapRows.push_back(MapRow(mapBytes, pages));
  }
  size_t mapSpace = kDataPageHeader;
  for (const auto& r : mapRows) mapSpace += 2 + r.size();
  if (mapSpace > kPageSize || mapRows.size() > 255) throw std::invalid_argument("too many tables or pages");

  std::vector<uint32_t> freePages;
  for (uint32_t pg = pageCount; pg < mapBytes * 8; ++pg) freePages.push_back(pg);

  std::string file = HeaderPage(db);
  file += DataPage(1, {MapRow(mapBytes, freePages)});
  file += TdefPage(catalog, static_cast<uint32_t>(catalogRows.size()), 3u << 8, (3u << 8) | 1, db.sortOrder);
  file += DataPage(0, mapRows);
  for (const auto& rows : catalogPages) file += DataPage(2, rows);
  for (size_t i = 0; i < defs.size(); ++i) {
    uint32_t mapRow = 2 + 2 * static_cast<uint32_t>(i);
    file += TdefPage(defs[i], static_cast<uint32_t>(rowBytes[i].size()), (3u << 8) | mapRow, (3u << 8) | (mapRow + 1),
                     db.sortOrder);
    for (const auto& rows : tablePages[i]) file += DataPage(tdefPage[i], rows);
  }
  return file;
}

void Write(const std::filesystem::path& path, const Database& database) {
  std::string bytes = Build(database);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace zr::jet::writer
