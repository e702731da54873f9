#pragma once

#include <filesystem>

namespace zr::test {

// Makes `folder` the current directory and goes back to the previous one
// afterwards, for code that starts from wherever the program was started.
class CurrentDirectoryScope {
 public:
  explicit CurrentDirectoryScope(const std::filesystem::path& folder);
  ~CurrentDirectoryScope();
  CurrentDirectoryScope(const CurrentDirectoryScope&) = delete;
  CurrentDirectoryScope& operator=(const CurrentDirectoryScope&) = delete;

 private:
  std::filesystem::path previous_;
};

}  // namespace zr::test
