#pragma once

#include <filesystem>

#include "platform/replace/PathParts.h"

namespace zr::replace::test {

const PathParts kFirst = {"Work", "ZrBunsyo.wf6"};
const PathParts kSecond = {"Work", "ZrTuBun.wf6"};

// Recovers `folder` as a start does, with the two templates declared.
void Recover(const std::filesystem::path& folder);

// The files and folders under `root`, at any depth.
std::size_t CountFiles(const std::filesystem::path& root);

}  // namespace zr::replace::test
