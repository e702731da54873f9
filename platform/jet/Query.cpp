#include "platform/jet/Query.h"

#include "platform/runtime/Text.h"

namespace zr::jet::detail {
namespace {

class Scanner {
 public:
  explicit Scanner(std::string_view text) : s_(text) {}

  bool SkipBlanks() {
    std::size_t start = i_;
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) ++i_;
    return i_ > start;
  }

  bool AtEnd() const { return i_ == s_.size(); }

  bool Char(char c) {
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }

  // A keyword must stand alone: the next character cannot continue a name.
  bool Keyword(std::string_view word) {
    if (s_.size() - i_ < word.size() || !rt::EqualsIgnoreCase(s_.substr(i_, word.size()), word)) return false;
    if (i_ + word.size() < s_.size() && IsNameChar(s_[i_ + word.size()])) return false;
    i_ += word.size();
    return true;
  }

  std::optional<std::string> Name() {
    if (Char('[')) {
      std::size_t end = s_.find(']', i_);
      if (end == std::string_view::npos || end == i_) return std::nullopt;
      std::string name(s_.substr(i_, end - i_));
      i_ = end + 1;
      return name;
    }
    std::size_t start = i_;
    while (i_ < s_.size() && IsNameChar(s_[i_])) ++i_;
    if (i_ == start) return std::nullopt;
    return std::string(s_.substr(start, i_ - start));
  }

  std::optional<std::string> Literal() {
    if (i_ >= s_.size() || (s_[i_] != '\'' && s_[i_] != '"')) return std::nullopt;
    const char quote = s_[i_++];
    std::string value;
    while (i_ < s_.size()) {
      char c = s_[i_++];
      if (c != quote) {
        value += c;
      } else if (i_ < s_.size() && s_[i_] == quote) {
        value += quote;
        ++i_;
      } else {
        return value;
      }
    }
    return std::nullopt;
  }

 private:
  static bool IsNameChar(char c) {
    auto u = static_cast<unsigned char>(c);
    return u >= 0x80 || (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_';
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

}  // namespace

std::optional<SelectQuery> ParseSelect(std::string_view sql) {
  Scanner sc(sql);
  SelectQuery q;
  sc.SkipBlanks();
  if (!sc.Keyword("SELECT") || !sc.SkipBlanks()) return std::nullopt;
  auto column = sc.Name();
  if (!column) return std::nullopt;
  q.column = *column;
  if (!sc.SkipBlanks() || !sc.Keyword("FROM") || !sc.SkipBlanks()) return std::nullopt;
  auto table = sc.Name();
  if (!table) return std::nullopt;
  q.table = *table;
  bool blank = sc.SkipBlanks();
  if (blank && sc.Keyword("WHERE")) {
    sc.SkipBlanks();
    auto where = sc.Name();
    if (!where) return std::nullopt;
    sc.SkipBlanks();
    if (!sc.Char('=')) return std::nullopt;
    sc.SkipBlanks();
    auto literal = sc.Literal();
    if (!literal) return std::nullopt;
    q.whereColumn = *where;
    q.literal = *literal;
    sc.SkipBlanks();
  }
  if (sc.Char(';')) sc.SkipBlanks();
  if (!sc.AtEnd()) return std::nullopt;
  return q;
}

}  // namespace zr::jet::detail
