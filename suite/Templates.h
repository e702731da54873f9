#pragma once

#include <string>
#include <vector>

namespace zr::suite {

// The two template databases, as the suite's backups name them; in the data
// folder they stand at the same relative paths.
inline const std::vector<std::string> kTemplateMembers = {"Work\\ZrBunsyo.wf6", "Work\\ZrTuBun.wf6"};

// A template's place under the data folder, folder parts first.
std::vector<std::string> TemplatePathParts(const std::string& member);

// Every template's.
std::vector<std::vector<std::string>> TemplateTargets();

}  // namespace zr::suite
