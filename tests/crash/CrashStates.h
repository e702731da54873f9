#pragma once

// Every state a power cut may leave on disk, built from a recording.
//
// The persistence model, at least as pessimistic as POSIX promises:
// - Data written to a file is durable only once that file has been flushed
//   (fsync) after the write.
// - A name created (a file, a folder, a hard link), renamed or removed is
//   durable only once its folder has been flushed after it; a rename between
//   two folders only once both have been.
// - At a cut, every operation not yet durable may be present or absent,
//   independently of every other one: a later one may survive where an
//   earlier one is lost. A rename is one operation, present or absent as a
//   whole, but a file's may also leave both names, as a file system that
//   writes the new name before it removes the old one may. Within one file
//   a write not yet durable may also be present in part, up to any block
//   (4096-byte) boundary inside it.
// - Flushing a file does not make its name durable, and flushing a folder
//   does not make the data of its files durable.
// Left out: modes and owners (taken as set), access times, and what other
// programs do; a file's modification time is the one after the last write
// that survived.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/crash/Recorder.h"

namespace zr::crash {

struct CrashState {
  std::map<Slot, NodeId> slots;
  std::map<NodeId, Node> nodes;
  std::string how;  // the cut and what was lost, for messages
};

class CrashModel {
 public:
  explicit CrashModel(const Recording& recording);

  std::size_t Points() const { return rec_.steps.size() + 1; }
  // The operations before `point` that a cut there may lose.
  std::vector<std::size_t> Pending(std::size_t point) const;
  // How a pending operation may end: absent, present, for a write that
  // crosses block boundaries present up to each of them, and for the
  // rename of a file, both names present.
  int Outcomes(std::size_t step) const;
  // The state a cut at `point` leaves when each pending operation ends as
  // `outcome` says (0 absent, 1 present, 1 + k up to the k-th block
  // boundary inside a write, 2 both names of a rename; missing: present).
  CrashState Build(std::size_t point, const std::map<std::size_t, int>& outcome) const;

  // Every state the model allows at each point, or, where there are more
  // than `enumerateUpTo`, every single loss and every single survival plus
  // `sample` drawn from a generator started at `start`.
  void ForEach(std::size_t enumerateUpTo, int sample, uint32_t start,
               const std::function<void(const CrashState&)>& visit) const;

  const Recording& recording() const { return rec_; }

 private:
  static bool Changes(const Step& step);
  const Recording& rec_;
  std::vector<std::size_t> durableAt_;  // the point from which each step is on disk
};

// A text that is equal for equal states (names, folders, contents, times).
std::string Signature(const CrashState& state, const Recording& recording);

// Rebuilds the recorded roots under `anchor` as `state` has them, reusing
// the files kept in `pool` so they keep their identities.
void Materialize(const CrashState& state, const Recording& recording, const std::filesystem::path& anchor,
                 const std::filesystem::path& pool);

// The recorded steps, one a line, for messages.
std::string Listing(const Recording& recording);

}  // namespace zr::crash
