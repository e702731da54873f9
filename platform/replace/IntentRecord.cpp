// The intent record a replacement flushes before its first rename, so an interrupted one can be undone.
#include "platform/replace/IntentRecord.h"

#include "platform/replace/OurNames.h"
#include "platform/runtime/Text.h"

namespace zr::replace {
namespace {

constexpr std::string_view kFirstLine = "zr-replace 3\n";
constexpr std::string_view kSeal = "mac ";
constexpr std::string_view kNone = "-";

// Names may hold any byte but "/" and NUL; the record's own separators
// (tab, line feed, "/"), "%" and "-" alone are written as %XX.
bool KeptInRecord(unsigned char c, std::size_t /*at*/) { return !(c <= 0x20 || c == '%' || c == '/' || c == 0x7F); }

std::string Escape(const std::string& part) {
  if (part == kNone) return "%2D";
  return rt::PercentEncode(part, KeptInRecord);
}

std::string JoinEscaped(const PathParts& parts) {
  std::string s;
  for (const std::string& p : parts) {
    if (!s.empty()) s += '/';
    s += Escape(p);
  }
  return s;
}

// Every part is decoded on its own and must then be one name: an encoded
// "/" or a "." or ".." part never reaches a file.
std::optional<PathParts> SplitEscaped(std::string_view text) {
  PathParts parts;
  while (true) {
    const std::size_t slash = text.find('/');
    auto part = rt::PercentDecode(text.substr(0, slash));
    if (!part || !IsSingleName(*part)) return std::nullopt;
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

// The record's name is sealed with it, so a record cannot pass under
// another one's name.
std::string Sealed(std::string_view recordName, std::string_view body) {
  std::string sealed(recordName);
  sealed += '\n';
  sealed += body;
  return sealed;
}

std::string IdentityField(const std::optional<FileIdentity>& id) { return id ? id->Text() : std::string(kNone); }

// Absent ("-") or a valid identity; false for anything else.
bool ParseIdentity(std::string_view field, std::optional<FileIdentity>& out) {
  if (field == kNone) return true;
  out = FileIdentity::Parse(std::string(field));
  return out.has_value();
}

bool ParseOurName(std::string_view field, std::string_view prefix, std::string& out) {
  if (field == kNone) return true;
  if (!IsOurName(field, prefix)) return false;
  out = field;
  return true;
}

}  // namespace

std::string EncodeIntent(const Intent& intent, const RecordKey& key, std::string_view recordName) {
  std::string body(kFirstLine);
  body += "j\t" + (intent.token.empty() ? std::string(kNone) : Escape(intent.token)) + "\n";
  for (const auto& e : intent.entries) {
    body += "t\t" + JoinEscaped(e.target) + "\t" + (e.staged.empty() ? std::string(kNone) : e.staged) + "\t" +
            (e.backup.empty() ? std::string(kNone) : e.backup) + "\t" + IdentityField(e.old) + "\t" +
            IdentityField(e.placed) + "\t" + (e.movedAside ? "aside" : "link") + "\n";
  }
  for (const auto& folder : intent.createdFolders) body += "d\t" + JoinEscaped(folder) + "\n";
  return body + std::string(kSeal) + Authenticator(key, Sealed(recordName, body)) + "\n";
}

std::optional<Intent> DecodeIntent(std::string_view bytes, const RecordKey& key, std::string_view recordName) {
  if (!bytes.starts_with(kFirstLine) || !bytes.ends_with('\n')) return std::nullopt;
  const std::size_t sealAt = bytes.rfind('\n', bytes.size() - 2) + 1;
  const std::string_view body = bytes.substr(0, sealAt);
  std::string_view seal = bytes.substr(sealAt, bytes.size() - sealAt - 1);
  if (!seal.starts_with(kSeal)) return std::nullopt;
  seal.remove_prefix(kSeal.size());
  if (!Authentic(key, Sealed(recordName, body), seal)) return std::nullopt;

  Intent intent;
  bool tokenSeen = false;
  std::string_view rest = body.substr(kFirstLine.size());
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const auto fields = Fields(rest.substr(0, end));
    rest.remove_prefix(end + 1);
    if (fields[0] == "j" && fields.size() == 2 && !tokenSeen) {
      tokenSeen = true;
      if (fields[1] == kNone) continue;
      auto token = rt::PercentDecode(fields[1]);
      if (!token || !IsSingleName(*token)) return std::nullopt;
      intent.token = std::move(*token);
    } else if (fields[0] == "t" && fields.size() == 7 && (fields[6] == "aside" || fields[6] == "link")) {
      Intent::Entry e;
      auto target = SplitEscaped(fields[1]);
      if (!target || !ParseOurName(fields[2], kTempPrefix, e.staged) ||
          !ParseOurName(fields[3], kBackupPrefix, e.backup) || !ParseIdentity(fields[4], e.old) ||
          !ParseIdentity(fields[5], e.placed)) {
        return std::nullopt;
      }
      // A staged copy always has its identity; an old file always has its backup.
      if (e.staged.empty() != !e.placed.has_value() || (e.old.has_value() && e.backup.empty())) return std::nullopt;
      e.target = std::move(*target);
      e.movedAside = fields[6] == "aside";
      intent.entries.push_back(std::move(e));
    } else if (fields[0] == "d" && fields.size() == 2) {
      auto folder = SplitEscaped(fields[1]);
      if (!folder) return std::nullopt;
      intent.createdFolders.push_back(std::move(*folder));
    } else {
      return std::nullopt;
    }
  }
  if (!tokenSeen) return std::nullopt;
  return intent;
}

}  // namespace zr::replace
