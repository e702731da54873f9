#pragma once

#include <filesystem>

#include "platform/replace/Journal.h"
#include "platform/replace/PathParts.h"

namespace zr::replace::test {

const PathParts kFirst = {"Work", "ZrBunsyo.wf6"};
const PathParts kSecond = {"Work", "ZrTuBun.wf6"};

// Replaces both templates under `folder` with "new first" and "new second",
// written and flushed as the decoder writes them, through rt::Ops(); inside
// `journal`'s scope (token "1") when there is one.
void ReplacePair(const std::filesystem::path& folder, Journal* journal);

// Recovers `folder` as a start does, with the two templates declared.
void Recover(const std::filesystem::path& folder);

// The files and folders under `root`, at any depth.
std::size_t CountFiles(const std::filesystem::path& root);

}  // namespace zr::replace::test
