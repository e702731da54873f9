#pragma once

#include <string>

// The extracted copy of the common database in the suite's temporary folder.
namespace zr::restore {

// True when an ordinary file (not a folder, not hidden) exists at `path`.
bool OrdinaryFileExists(const std::string& path);

// Removes whatever file an earlier check left at `path`, so that only this
// archive's copy can be read there. A missing file is fine; anything else
// that stops the removal is a run-time error.
void RemoveLeftoverCopy(const std::string& path);

// Deletes the copy, ignoring every failure.
void DeleteCopyQuietly(const std::string& path) noexcept;

}  // namespace zr::restore
