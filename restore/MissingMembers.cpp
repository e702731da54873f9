#include "restore/MissingMembers.h"

#include "platform/lzh/Members.h"

namespace zr::restore {

rt::RuntimeError MissingMembersError(const std::string& archivePath, const std::vector<std::string>& requested,
                                     int missingCount) {
  std::vector<std::string> missing;
  try {
    missing = lzh::MissingMembers(archivePath, requested);
  } catch (...) {
    // The archive can no longer be read; name every candidate instead.
  }
  std::string names;
  const auto& listed = missing.empty() ? requested : missing;
  for (const auto& name : listed) {
    if (!names.empty()) names += "、";
    names += name;
  }
  std::string description = "バックアップファイルに雛形データ（" + names + "）がありません。";
  if (missing.empty()) description += "（" + std::to_string(missingCount) + " 件が見つかりません）";
  description += "データは復旧しませんでした。(" + archivePath + ")";
  return rt::RuntimeError(rt::err::FileNotFound, description);
}

}  // namespace zr::restore
