#include "tests/support/CurrentDirectoryScope.h"

namespace zr::test {

CurrentDirectoryScope::CurrentDirectoryScope(const std::filesystem::path& folder)
    : previous_(std::filesystem::current_path()) {
  std::filesystem::current_path(folder);
}

CurrentDirectoryScope::~CurrentDirectoryScope() { std::filesystem::current_path(previous_); }

}  // namespace zr::test
