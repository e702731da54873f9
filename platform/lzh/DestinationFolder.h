#pragma once

// The folder an extraction writes into: opened, held against other extractions, and cleared of what an interrupted
// one left there.
#include <string>
#include <vector>

#include "platform/replace/PathParts.h"
#include "platform/runtime/UniqueFd.h"

namespace zr::lzh {

// Thrown when an extraction that may not wait finds the folder held by another.
struct FolderBusy {};

// Opens the absolute path `destination` as a folder; a missing one is PathNotFound.
rt::UniqueFd OpenDestination(const std::string& destination);

// Takes the folder open at `folder` for this extraction: waits for another
// one to let it go, or with `wait` false throws FolderBusy instead.
void HoldDestination(int folder, const std::string& destination, bool wait);

// Lets go of a folder HoldDestination took.
void ReleaseDestination(int folder);

// Resolves what an earlier extraction left in the held folder, touching no
// file but `outputs` (paths under it, file name last).
void RecoverDestination(int folder, const std::string& destination, const std::vector<replace::PathParts>& outputs);

}  // namespace zr::lzh
