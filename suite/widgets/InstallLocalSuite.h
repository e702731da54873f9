#pragma once

#include "suite/Components.h"

namespace zr::suite {

// Installs this platform's suite: the local services with the Qt folder
// picker, the local start-up gate and the Qt wait notice (its window built
// once the first window has painted), and the extraction begun ahead of a
// restore. Returns the factory that was in place.
ComponentFactory InstallLocalSuite();

}  // namespace zr::suite
