#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Run locks: while a program of the suite runs, it holds an exclusive lock on
// run/<identifier>.lock in the suite home, twice over: an open-file-description
// lock, and a flock(2) lock, the kind the standard flock(1) utility takes, so
// that an administrator's script can keep a program away or test whether it
// runs. A lock of either kind held by anyone counts. The kernel drops both
// when the holder ends, however it ends, so a killed program never blocks the
// next start.
namespace zr::suite {

// The lock file name for a program identifier. Letters, digits and "-_.()"
// stay; every other byte, and a leading dot, becomes %XX.
std::string RunLockFileName(std::string_view programId);

// The identifier back from a lock file name, or nothing when the name is not
// one that RunLockFileName makes.
std::optional<std::string> ProgramIdFromRunLockFileName(std::string_view fileName);

// Takes the lock on `lockFile` for the rest of the process, creating the
// file and its folder when missing. True when this process holds it (now or
// from before), false when another process does. Other failures are run-time
// errors.
bool AcquireRunLock(const std::filesystem::path& lockFile);

// True when a process holds the lock on `lockFile`; this one included.
bool IsRunLockHeld(const std::filesystem::path& lockFile);

// True when this process asked for `lockFile` (held or not): the file of an
// identifier this process registered under.
bool IsOwnRunLock(const std::filesystem::path& lockFile);

// The lock this process last asked for through AcquireRunLock, if any.
std::optional<std::filesystem::path> LastRequestedRunLock();

}  // namespace zr::suite
