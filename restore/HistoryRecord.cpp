#include "restore/HistoryRecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <utility>

#include "platform/runtime/FileOps.h"
#include "platform/runtime/Text.h"
#include "restore/HistoryFolder.h"
#include "suite/Templates.h"

namespace zr::restore::history {
namespace {

namespace fs = std::filesystem;
using rt::Ops;

constexpr std::size_t kMaxEntryFileBytes = 64 * 1024;

// Values stay on one line and within what the file may hold.
bool KeptInValue(unsigned char c, std::size_t /*at*/) { return c >= 0x20 && c != 0x7F && c != '%'; }

std::string TemplateKey(const std::string& member) { return suite::TemplatePathParts(member).back(); }

const char* StateText(TemplateState s) {
  switch (s) {
    case TemplateState::Present:
      return "present";
    case TemplateState::Absent:
      return "absent";
    case TemplateState::Unknown:
      break;
  }
  return "unknown";
}

std::string UtcText(time_t when) {
  tm utc{};
  gmtime_r(&when, &utc);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string LocalFromUtc(const std::string& stored) {
  tm utc{};
  const char* end = strptime(stored.c_str(), "%Y-%m-%dT%H:%M:%SZ", &utc);
  if (end == nullptr || *end != '\0') return stored;
  const time_t when = timegm(&utc);
  tm local{};
  localtime_r(&when, &local);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

struct EntryText {
  std::string format;
  std::vector<std::pair<std::string, std::string>> values;
  std::string Value(const std::string& key) const {
    for (const auto& [k, v] : values) {
      if (k == key) return v;
    }
    return {};
  }
};

// The entry's restore.ini: a regular file of bounded size, never through a link.
std::optional<std::string> ReadEntryFile(int entryFd, std::string& problem) {
  rt::UniqueFd fd = rt::OwnedFd(Ops().OpenAt(entryFd, kEntryFile, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
  struct stat st {};
  if (!fd.valid() || Ops().Fstat(fd.get(), &st) != 0) {
    problem = "履歴の記録（restore.ini）を開けません。";
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) {
    problem = "履歴の記録（restore.ini）が通常のファイルではありません。";
    return std::nullopt;
  }
  if (static_cast<std::size_t>(st.st_size) > kMaxEntryFileBytes) {
    problem = "履歴の記録（restore.ini）が大きすぎます。";
    return std::nullopt;
  }
  std::string bytes(kMaxEntryFileBytes + 1, '\0');
  const ssize_t n = rt::ReadUpTo(fd.get(), bytes.data(), bytes.size());
  if (n < 0 || static_cast<std::size_t>(n) > kMaxEntryFileBytes) {
    problem = "履歴の記録（restore.ini）を読み込めません。";
    return std::nullopt;
  }
  bytes.resize(static_cast<std::size_t>(n));
  return bytes;
}

EntryText ParseEntryText(const std::string& text) {
  EntryText parsed;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    parsed.values.emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  parsed.format = parsed.Value("format");
  if (parsed.format == "2") {
    for (auto& [key, value] : parsed.values) {
      auto decoded = rt::PercentDecode(value);
      value = decoded ? *decoded : std::string();
    }
  }
  return parsed;
}

// Earlier entries kept the templates there were, and wrote local time.
void ReadEarlierTemplates(int entryFd, HistoryEntry& entry) {
  rt::UniqueFd work = OpenFolderAt(entryFd, kWork);
  for (std::size_t i = 0; i < suite::kTemplateMembers.size(); ++i) {
    struct stat st {};
    const std::string file = TemplateKey(suite::kTemplateMembers[i]);
    const bool there = work.valid() && Ops().FstatAt(work.get(), file.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    entry.templates[i] = there ? TemplateState::Present : TemplateState::Absent;
  }
}

}  // namespace

void WriteRecord(int entryFd, const fs::path& where, uint64_t sequence, const EntryFacts& facts) {
  std::string text = "[RESTORE]\nformat=2\nsequence=" + std::to_string(sequence) + "\ntime=" + UtcText(time(nullptr)) +
                     "\narchive=" + rt::PercentEncode(facts.archive, KeptInValue) +
                     "\ninstalled=" + rt::PercentEncode(facts.installed, KeptInValue) +
                     "\nundo=" + (facts.fromUndo ? "1" : "0") + "\nrecovered=" + (facts.recovered ? "1" : "0") + "\n";
  for (std::size_t i = 0; i < suite::kTemplateMembers.size(); ++i) {
    text += TemplateKey(suite::kTemplateMembers[i]) + "=" + StateText(facts.templates[i]) + "\n";
  }
  rt::UniqueFd file =
      rt::OwnedFd(Ops().OpenAt(entryFd, kEntryFile, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!file.valid() || !rt::WriteAll(file.get(), text) || Ops().Fsync(file.get()) != 0 ||
      Ops().Close(file.Release()) != 0) {
    throw HistoryError(errno, where / kEntryFile);
  }
}

HistoryEntry ReadEntry(int rootFd, const fs::path& root, const std::string& name) {
  HistoryEntry entry;
  entry.folder = root / name;
  entry.sequence = SequenceOf(name).value_or(0);
  entry.templates.assign(suite::kTemplateMembers.size(), TemplateState::Unknown);
  rt::UniqueFd folder = OpenFolderAt(rootFd, name);
  if (!folder.valid()) {
    entry.problem = "履歴のフォルダーを開けません。";
    return entry;
  }
  const auto bytes = ReadEntryFile(folder.get(), entry.problem);
  if (!bytes) return entry;
  const EntryText text = ParseEntryText(*bytes);
  entry.archive = text.Value("archive");
  entry.installedVersion = text.Value("installed");
  entry.fromUndo = text.Value("undo") == "1";
  entry.recovered = text.Value("recovered") == "1";
  if (text.format != "2") {
    entry.time = text.Value("time");
    ReadEarlierTemplates(folder.get(), entry);
    return entry;
  }
  entry.time = LocalFromUtc(text.Value("time"));
  for (std::size_t i = 0; i < suite::kTemplateMembers.size(); ++i) {
    const std::string state = text.Value(TemplateKey(suite::kTemplateMembers[i]));
    entry.templates[i] = state == "present"  ? TemplateState::Present
                         : state == "absent" ? TemplateState::Absent
                                             : TemplateState::Unknown;
  }
  return entry;
}

}  // namespace zr::restore::history
