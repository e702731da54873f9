#pragma once

// A restore and an undo killed at each of their changes in turn, each followed by the next start's recovery.
#include <string>
#include <vector>

#include "tests/restore/RealSuite.h"

namespace zr::test {

// The two templates of the suite's data folder, "-" for one that is missing.
std::string LivePair(const RealSuite& suite);

// What a restore does once the check has passed: the history entry, then
// the replacement that commits it, from a demo backup labelled `label`.
void RestoreDemo(const RealSuite& suite, const std::string& label);

// Files of ours anywhere in the data folder or the history.
std::vector<std::string> OursLeft(const RealSuite& suite);

struct KillCounts {
  int restores = 0;
  int undos = 0;
};

// Kills a restore, then an undo, just before each of their changes to the
// disk in turn; after each the next start recovers, and the pair must be
// whole and from one side, nothing of ours left, and the history must hold
// an entry exactly when the change happened, with the pair it replaced.
// `foreign`: the program sees the folders as FAT, exFAT, NTFS through FUSE
// or a share show them (ForeignFileSystem), the recovery as a new mount.
KillCounts KillAtEveryChange(const RealSuite& suite, bool foreign);

}  // namespace zr::test
