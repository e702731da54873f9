// The intent record a replacement flushes before its first rename, so an interrupted one can be undone.
#include "platform/lzh/IntentRecord.h"

#include <cstdio>

#include "platform/lzh/Crc16.h"
#include "platform/lzh/OurNames.h"
#include "platform/runtime/Text.h"

namespace zr::lzh {
namespace {

constexpr std::string_view kFirstLine = "zr-replace 1\n";
constexpr std::string_view kSeal = "end ";

// Path parts may hold any byte but "/" and NUL; the record's own
// separators (tab, line feed, "/") and "%" are written as %XX.
bool KeptInRecord(unsigned char c, std::size_t /*at*/) { return !(c <= 0x20 || c == '%' || c == '/' || c == 0x7F); }

std::string Escape(const std::string& part) { return rt::PercentEncode(part, KeptInRecord); }

std::string JoinEscaped(const PathParts& parts) {
  std::string s;
  for (const std::string& p : parts) {
    if (!s.empty()) s += '/';
    s += Escape(p);
  }
  return s;
}

std::optional<PathParts> SplitEscaped(std::string_view text) {
  PathParts parts;
  while (true) {
    const std::size_t slash = text.find('/');
    auto part = rt::PercentDecode(text.substr(0, slash));
    // Only names inside the destination: no empty, "." or ".." parts.
    if (!part || part->empty() || *part == "." || *part == ".." || part->find('\0') != std::string::npos) {
      return std::nullopt;
    }
    parts.push_back(std::move(*part));
    if (slash == std::string_view::npos) return parts;
    text.remove_prefix(slash + 1);
  }
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  while (true) {
    const std::size_t tab = line.find('\t');
    fields.push_back(line.substr(0, tab));
    if (tab == std::string_view::npos) return fields;
    line.remove_prefix(tab + 1);
  }
}

std::string SealFor(std::string_view body) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04x", Crc16(0, body.data(), body.size()));
  return std::string(kSeal) + hex + "\n";
}

}  // namespace

std::string EncodeIntent(const Intent& intent) {
  std::string body(kFirstLine);
  for (const auto& e : intent.entries) {
    body += "t\t" + JoinEscaped(e.target) + "\t" + e.staged + "\t" + (e.backup.empty() ? "-" : e.backup) + "\n";
  }
  for (const auto& folder : intent.createdFolders) body += "d\t" + JoinEscaped(folder) + "\n";
  return body + SealFor(body);
}

std::optional<Intent> DecodeIntent(std::string_view bytes) {
  if (!bytes.starts_with(kFirstLine) || !bytes.ends_with('\n')) return std::nullopt;
  const std::size_t sealAt = bytes.rfind('\n', bytes.size() - 2) + 1;
  const std::string_view body = bytes.substr(0, sealAt);
  if (bytes.substr(sealAt) != SealFor(body)) return std::nullopt;

  Intent intent;
  std::string_view rest = body.substr(kFirstLine.size());
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const auto fields = Fields(rest.substr(0, end));
    rest.remove_prefix(end + 1);
    if (fields[0] == "t" && fields.size() == 4) {
      auto target = SplitEscaped(fields[1]);
      const std::string staged(fields[2]);
      const std::string backup = fields[3] == "-" ? "" : std::string(fields[3]);
      if (!target || !IsOurName(staged, kTempPrefix) || (!backup.empty() && !IsOurName(backup, kBackupPrefix))) {
        return std::nullopt;
      }
      intent.entries.push_back({std::move(*target), staged, backup});
    } else if (fields[0] == "d" && fields.size() == 2) {
      auto folder = SplitEscaped(fields[1]);
      if (!folder) return std::nullopt;
      intent.createdFolders.push_back(std::move(*folder));
    } else {
      return std::nullopt;
    }
  }
  return intent;
}

}  // namespace zr::lzh
