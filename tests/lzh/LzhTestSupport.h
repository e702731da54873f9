#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/ScriptedOps.h"

namespace zr::lzh::test {

namespace fs = std::filesystem;
using zr::test::Op;
using zr::test::OpName;
using zr::test::ScopedOps;
using zr::test::ScriptedOps;

// Contents of the members in tests/lzh/fixtures ("Data/ZrXXComn.wf6",
// "Work/ZrBunsyo.wf6", "Work/ZrTuBun.wf6"), from the generator the fixture
// script uses.
std::string FixtureContent(const std::string& member);
fs::path FixturePath(const std::string& name);

// Everything under `root`: relative path -> kind, permission bits and
// content (or link target), to prove a tree untouched or changed.
using Tree = std::map<std::string, std::string>;
Tree Snapshot(const fs::path& root);

// Staged copies, backups and intent records the extraction may leave under `root`.
std::vector<std::string> Leftovers(const fs::path& root);

}  // namespace zr::lzh::test
