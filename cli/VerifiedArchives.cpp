#include "cli/VerifiedArchives.h"

#include <charconv>
#include <ostream>
#include <string_view>
#include <vector>

#include "cli/SmallFile.h"
#include "platform/runtime/RuntimeError.h"
#include "suite/local/ErrorLog.h"
#include "suite/local/SuiteHome.h"

namespace zr::cli {
namespace {

constexpr std::string_view kHeader = "# ZrBunsyoRes --verify --new v1\n";
constexpr std::size_t kFields = 10;

std::optional<ArchiveForm> FormOf(const std::string& path) {
  // Followed like the check's own open, so the form is that of what is read.
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return ArchiveForm{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

std::string Key(const std::string& archive) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(archive, ec);
  return ec ? archive : absolute.lexically_normal().string();
}

// The inverse of EscapeLogField; nullopt for an escape it never writes.
std::optional<std::string> Unescape(std::string_view text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      plain += text[i];
      continue;
    }
    if (++i >= text.size()) return std::nullopt;
    switch (text[i]) {
      case '\\':
        plain += '\\';
        break;
      case 't':
        plain += '\t';
        break;
      case 'r':
        plain += '\r';
        break;
      case 'n':
        plain += '\n';
        break;
      case 'x': {
        unsigned value = 0;
        if (i + 2 >= text.size() ||
            std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr != text.data() + i + 3) {
          return std::nullopt;
        }
        plain += static_cast<char>(value);
        i += 2;
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return plain;
}

template <typename T>
bool Number(std::string_view text, T& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

std::vector<std::string_view> Split(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

}  // namespace

bool ArchiveForm::operator==(const ArchiveForm& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
         changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

std::filesystem::path VerifiedArchives::InSuiteHome() { return suite::SuiteHome() / "verified.tsv"; }

VerifiedArchives::VerifiedArchives(std::filesystem::path file) : file_(std::move(file)) {
  const std::optional<std::string> text = ReadSmallFile(file_, kLimit);
  if (!text || !std::string_view(*text).starts_with(kHeader)) return;
  std::string_view rest = std::string_view(*text).substr(kHeader.size());
  // A line that does not read back whole (a hand edit, a foreign file) is
  // forgotten: its archive is checked again.
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) break;
    const std::vector<std::string_view> f = Split(rest.substr(0, end));
    rest.remove_prefix(end + 1);
    if (f.size() != kFields || (f[7] != "OK" && f[7] != "NG")) continue;
    Entry entry;
    ArchiveForm& form = entry.form;
    const std::optional<std::string> path = Unescape(f[8]);
    const std::optional<std::string> detail = Unescape(f[9]);
    if (!path || !detail || !Number(f[0], form.device) || !Number(f[1], form.inode) || !Number(f[2], form.size) ||
        !Number(f[3], form.modified.tv_sec) || !Number(f[4], form.modified.tv_nsec) ||
        !Number(f[5], form.changed.tv_sec) || !Number(f[6], form.changed.tv_nsec)) {
      continue;
    }
    entry.ok = f[7] == "OK";
    entry.detail = *detail;
    entries_[*path] = std::move(entry);
  }
}

bool VerifiedArchives::IsNew(const std::string& archive) {
  const std::string key = Key(archive);
  const std::optional<ArchiveForm> form = FormOf(key);
  const auto known = entries_.find(key);
  if (form && known != entries_.end() && known->second.form == *form) {
    known->second.seen = true;
    return false;
  }
  if (form) pending_[key] = *form;
  return true;
}

void VerifiedArchives::Record(const std::string& archive, const restore::BackupVerdict& verdict) {
  const std::string key = Key(archive);
  const auto form = pending_.find(key);
  if (form == pending_.end()) return;  // not a regular file: nothing to know it again by
  entries_[key] = Entry{form->second, verdict.ok, verdict.ok ? verdict.version : verdict.reason, true};
  pending_.erase(form);
  changed_ = true;
}

bool VerifiedArchives::Save(std::ostream& err) {
  std::string text(kHeader);
  for (auto it = entries_.begin(); it != entries_.end();) {
    const Entry& e = it->second;
    if (!e.seen) {
      const std::optional<ArchiveForm> now = FormOf(it->first);
      if (!now || !(*now == e.form)) {
        it = entries_.erase(it);
        changed_ = true;
        continue;
      }
    }
    const ArchiveForm& f = e.form;
    const std::string line = std::to_string(f.device) + '\t' + std::to_string(f.inode) + '\t' + std::to_string(f.size) +
                             '\t' + std::to_string(f.modified.tv_sec) + '\t' + std::to_string(f.modified.tv_nsec) +
                             '\t' + std::to_string(f.changed.tv_sec) + '\t' + std::to_string(f.changed.tv_nsec) +
                             (e.ok ? "\tOK\t" : "\tNG\t") + suite::EscapeLogField(it->first) + '\t' +
                             suite::EscapeLogField(e.detail) + '\n';
    // Past the limit the rest stay unremembered and are checked again next time.
    if (text.size() + line.size() > kLimit) break;
    text += line;
    ++it;
  }
  if (!changed_) return true;
  try {
    WriteWholeFile(file_, text);
  } catch (const rt::RuntimeError& e) {
    err << "ZrBunsyoRes: 検査の結果を記録できません: " << e.description() << '\n';
    return false;
  }
  changed_ = false;
  return true;
}

}  // namespace zr::cli
