#pragma once

#include <string>
#include <vector>

#include "platform/runtime/RuntimeError.h"

namespace zr::restore {

// The error for an archive that lacks some requested members, naming them.
rt::RuntimeError MissingMembersError(const std::string& archivePath, const std::vector<std::string>& requested,
                                     int missingCount);

}  // namespace zr::restore
