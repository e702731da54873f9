#pragma once

#include "suite/Components.h"

namespace zr::suite {

// Installs this platform's suite: the local services with the Qt folder
// picker, the local start-up gate and the Qt wait notice. Returns the factory
// that was in place.
ComponentFactory InstallLocalSuite();

}  // namespace zr::suite
