#pragma once

#include <optional>
#include <string>
#include <string_view>

// The one query form the layer answers:
//   SELECT <column> FROM <table> [WHERE <column> = '<literal>'] [;]
// Names may be bracketed ([A B]); the literal may use ' or " with the quote
// doubled inside; keywords are case-blind.
namespace zr::jet::detail {

struct SelectQuery {
  std::string column;
  std::string table;
  std::optional<std::string> whereColumn;
  std::string literal;
};

std::optional<SelectQuery> ParseSelect(std::string_view sql);

}  // namespace zr::jet::detail
