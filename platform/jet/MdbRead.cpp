#include "platform/jet/MdbRead.h"

#include <glib.h>
#include <mdbtools.h>
#include <sys/stat.h>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/runtime/Text.h"

namespace zr::jet::detail {
namespace {

constexpr int kOffsetMask = 0x1FFF;
constexpr int kDeletedRow = 0x8000;
constexpr int kOverflowRow = 0x4000;

struct HandleCloser {
  void operator()(MdbHandle* mdb) const { mdb_close(mdb); }
};
struct TableFreer {
  void operator()(MdbTableDef* table) const { mdb_free_tabledef(table); }
};
using Handle = std::unique_ptr<MdbHandle, HandleCloser>;
using TablePtr = std::unique_ptr<MdbTableDef, TableFreer>;

// Where a row lies on the page in the handle's buffer, with its flags.
struct RowSpan {
  int start;
  int size;
  int flags;
};

std::optional<RowSpan> FindRow(MdbHandle* mdb, int row) {
  const int pageSize = static_cast<int>(mdb->fmt->pg_size);
  const int rco = mdb->fmt->row_count_offset;
  if (row < 0 || rco + 4 + 2 * row > pageSize) return std::nullopt;
  const int raw = mdb_get_int16(mdb->pg_buf, rco + 2 + 2 * row);
  const int start = raw & kOffsetMask;
  const int end = row == 0 ? pageSize : (mdb_get_int16(mdb->pg_buf, rco + 2 * row) & kOffsetMask);
  if (start >= pageSize || start > end || end > pageSize) return std::nullopt;
  return RowSpan{start, end - start, raw & (kDeletedRow | kOverflowRow)};
}

bool InPage(MdbHandle* mdb, const void* p, long size) {
  auto* b = static_cast<const unsigned char*>(p);
  return b != nullptr && size >= 0 && b >= mdb->pg_buf && b + size <= mdb->pg_buf + mdb->fmt->pg_size;
}

class Scan {
 public:
  Scan(MdbHandle* mdb, MdbTableDef* table, guint32 pageCount, int selected, int where, const std::string& literal)
      : mdb_(mdb), table_(table), pageCount_(pageCount), selected_(selected), where_(where), literal_(literal) {}

  // With no column selected only the pages and row offsets are checked.

  // False when the table's pages do not hold together: a page its map
  // names that is missing, not a data page or not the table's own.
  bool Run(std::vector<std::optional<std::string>>& out) {
    const guint32 owner = static_cast<guint32>(table_->entry->table_pg);
    // libmdb follows a missing or cut-short map without looking.
    if (table_->usage_map == nullptr || table_->map_sz < 5) return false;
    gint32 next = mdb_map_find_next(mdb_, table_->usage_map, static_cast<unsigned int>(table_->map_sz), 0);
    if (next < 0) {
      // A map of a kind libmdb does not know: every page of the table's own counts.
      for (guint32 page = 1; page < pageCount_; ++page) {
        if (mdb_read_pg(mdb_, page) != mdb_->fmt->pg_size) return false;
        if (mdb_->pg_buf[0] == MDB_PAGE_DATA && static_cast<guint32>(mdb_get_int32(mdb_->pg_buf, 4)) == owner &&
            !ReadPage(page, out)) {
          return false;
        }
      }
      return true;
    }
    guint32 previous = 0;
    while (next > 0) {
      const auto page = static_cast<guint32>(next);
      if (page <= previous || page >= pageCount_ || mdb_read_pg(mdb_, page) != mdb_->fmt->pg_size) return false;
      if (mdb_->pg_buf[0] != MDB_PAGE_DATA || static_cast<guint32>(mdb_get_int32(mdb_->pg_buf, 4)) != owner) {
        return false;
      }
      if (!ReadPage(page, out)) return false;
      previous = page;
      next = mdb_map_find_next(mdb_, table_->usage_map, static_cast<unsigned int>(table_->map_sz), page);
    }
    return next == 0;
  }

 private:
  bool ReadPage(guint32 page, std::vector<std::optional<std::string>>& out) {
    const int rows = mdb_get_int16(mdb_->pg_buf, mdb_->fmt->row_count_offset);
    for (int r = 0; r < rows; ++r) {
      auto span = FindRow(mdb_, r);
      if (!span) return false;
      if (selected_ < 0 || (span->flags & kDeletedRow)) continue;
      if (span->flags & kOverflowRow) {
        if (!ReadMovedRow(*span, out)) return false;
        if (mdb_read_pg(mdb_, page) != mdb_->fmt->pg_size) return false;
        continue;
      }
      if (span->size > 0 && !ReadRow(*span, out)) return false;
    }
    return true;
  }

  // A row moved elsewhere leaves a pointer: row number, then page.
  bool ReadMovedRow(const RowSpan& span, std::vector<std::optional<std::string>>& out) {
    if (span.size < 4) return false;
    const unsigned char* p = mdb_->pg_buf + span.start;
    const int row = p[0];
    const guint32 target = p[1] | (p[2] << 8) | (static_cast<guint32>(p[3]) << 16);
    if (target == 0 || mdb_read_pg(mdb_, target) != mdb_->fmt->pg_size) return false;
    if (mdb_->pg_buf[0] != MDB_PAGE_DATA ||
        static_cast<unsigned long>(mdb_get_int32(mdb_->pg_buf, 4)) != table_->entry->table_pg) {
      return false;
    }
    auto moved = FindRow(mdb_, row);
    if (!moved || (moved->flags & kOverflowRow) != 0) return false;
    return moved->size == 0 || ReadRow(*moved, out);
  }

  bool ReadRow(const RowSpan& span, std::vector<std::optional<std::string>>& out) {
    MdbField fields[MDB_MAX_COLS] = {};
    const int cracked = mdb_crack_row(table_, span.start, static_cast<size_t>(span.size), fields);
    if (cracked <= 0) return false;
    if (where_ >= 0) {
      std::optional<std::string> key;
      if (!Value(fields[where_], where_, key)) return false;
      if (!key || !rt::EqualsIgnoreCase(*key, literal_)) return true;
    }
    std::optional<std::string> value;
    if (!Value(fields[selected_], selected_, value)) return false;
    out.push_back(std::move(value));
    return true;
  }

  bool Value(const MdbField& field, int index, std::optional<std::string>& value) {
    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table_->columns, index));
    if (col->col_type == MDB_BOOL) {
      value = field.is_null ? "False" : "True";
      return true;
    }
    if (field.is_null) {
      value.reset();
      return true;
    }
    const long size = col->is_fixed ? std::max<long>(field.siz, mdb_col_fixed_size(col)) : field.siz;
    if (!InPage(mdb_, field.value, size) || !InPage(mdb_, mdb_->pg_buf + field.start, size)) return false;
    if (col->col_type == MDB_TEXT && IS_JET4(mdb_)) {
      value = DecodeJet4Text(static_cast<const unsigned char*>(field.value), static_cast<std::size_t>(field.siz));
      return true;
    }
    char* text = mdb_col_to_string(mdb_, mdb_->pg_buf, field.start, col->col_type, field.siz);
    value = text ? std::string(text) : std::string();
    g_free(text);
    return true;
  }

  MdbHandle* mdb_;
  MdbTableDef* table_;
  guint32 pageCount_;
  int selected_;
  int where_;
  std::string literal_;
};

guint32 PageCount(int fd, MdbHandle* mdb) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return 0;
  return static_cast<guint32>(std::min<off_t>(st.st_size / mdb->fmt->pg_size, 0xFFFFFF));
}

// libmdb copies a table's page map without looking at its size and then
// reads through it: a map row of length zero becomes a null map. Checked
// here for the catalog before libmdb reads it.
bool MapRowUsable(MdbHandle* mdb, guint32 tdefPage, guint32 pageCount) {
  if (tdefPage >= pageCount || mdb_read_pg(mdb, tdefPage) != mdb->fmt->pg_size) return false;
  const auto pointer = static_cast<guint32>(mdb_get_int32(mdb->pg_buf, mdb->fmt->tab_usage_map_offset));
  const guint32 page = pointer >> 8;
  if (page == 0 || page >= pageCount || mdb_read_pg(mdb, page) != mdb->fmt->pg_size) return false;
  auto span = FindRow(mdb, static_cast<int>(pointer & 0xFF));
  return span && span->size >= 5;
}

// The handle with its catalog read and the catalog's own pages checked the
// way a table's are, or null: libmdb passes over pages it cannot use, and a
// catalog read past a damaged page would simply lack tables.
Handle Open(int fd) {
  // Text comes back as UTF-8 whatever the environment says.
  setenv("MDBICONV", "UTF-8", 1);
  std::string path = "/proc/self/fd/" + std::to_string(fd);
  Handle mdb(mdb_open(path.c_str(), MDB_NOFLAGS));
  if (!mdb || !MapRowUsable(mdb.get(), 2, PageCount(fd, mdb.get())) ||
      mdb_read_catalog(mdb.get(), MDB_ANY) == nullptr) {
    return nullptr;
  }
  MdbCatalogEntry* catalog = nullptr;
  for (guint i = 0; i < mdb->catalog->len && catalog == nullptr; ++i) {
    auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    if (e->object_type == MDB_TABLE && e->table_pg == 2 && std::strcmp(e->object_name, "MSysObjects") == 0) catalog = e;
  }
  if (catalog == nullptr) return nullptr;
  TablePtr table(mdb_read_table(catalog));
  std::vector<std::optional<std::string>> none;
  if (!table || !Scan(mdb.get(), table.get(), PageCount(fd, mdb.get()), -1, -1, "").Run(none)) return nullptr;
  return mdb;
}

int ColumnIndex(MdbTableDef* table, const std::string& name) {
  for (guint i = 0; i < table->columns->len; ++i) {
    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
    if (rt::EqualsIgnoreCase(col->name, name)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

std::string DecodeJet4Text(const unsigned char* bytes, std::size_t size) {
  std::u16string units;
  if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    // Compressed: one byte per character until a NUL switches to two.
    bool compressed = true;
    for (std::size_t i = 2; i < size;) {
      if (bytes[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        units.push_back(bytes[i++]);
      } else if (i + 1 < size) {
        units.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
        i += 2;
      } else {
        break;
      }
    }
  } else {
    units = rt::Utf16LeUnits(std::string_view(reinterpret_cast<const char*>(bytes), size));
  }
  return *rt::Utf16ToUtf8(units, rt::LoneSurrogate::Replace);
}

ReadOutcome ReadCatalog(int fd) {
  ReadOutcome outcome;
  Handle mdb = Open(fd);
  if (mdb) outcome.status = ReadStatus::Ok;
  return outcome;
}

ReadOutcome ReadSelect(int fd, const SelectQuery& query) {
  ReadOutcome outcome;
  Handle mdb = Open(fd);
  if (!mdb) return outcome;
  MdbCatalogEntry* entry = nullptr;
  for (guint i = 0; i < mdb->catalog->len && entry == nullptr; ++i) {
    auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    if (e->object_type == MDB_TABLE && rt::EqualsIgnoreCase(e->object_name, query.table)) entry = e;
  }
  if (entry == nullptr) {
    outcome.status = ReadStatus::NoTable;
    outcome.missing = query.table;
    return outcome;
  }
  mdb_stats_on(mdb.get());
  TablePtr table(mdb_read_table(entry));
  if (!table || !mdb_read_columns(table.get()) || table->columns == nullptr || table->columns->len != table->num_cols ||
      table->num_cols > MDB_MAX_COLS) {
    return outcome;
  }
  const int selected = ColumnIndex(table.get(), query.column);
  const int where = query.whereColumn ? ColumnIndex(table.get(), *query.whereColumn) : -1;
  if (selected < 0 || (query.whereColumn && where < 0)) {
    outcome.status = ReadStatus::NoColumn;
    outcome.missing = selected < 0 ? query.column : *query.whereColumn;
    return outcome;
  }
  Scan scan(mdb.get(), table.get(), PageCount(fd, mdb.get()), selected, where, query.literal);
  if (!scan.Run(outcome.values)) {
    outcome.values.clear();
    return outcome;
  }
  outcome.pagesRead = mdb->stats ? mdb->stats->pg_reads : 0;
  outcome.status = ReadStatus::Ok;
  return outcome;
}

}  // namespace zr::jet::detail
