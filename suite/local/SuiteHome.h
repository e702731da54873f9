#pragma once

#include <filesystem>

namespace zr::suite {

// The folder that holds this machine's suite: $AOBANAVI_HOME when set, else
// $XDG_CONFIG_HOME/aobanavi, else ~/.config/aobanavi. Read afresh on every
// call, so a changed environment takes effect at once.
std::filesystem::path SuiteHome();

}  // namespace zr::suite
