#pragma once

#include <memory>
#include <string>

#include "platform/runtime/RuntimeError.h"

namespace zr::restore {

// Why a backup is not restored from, when the check refuses it.
enum class Refusal {
  None,
  InstalledVersion,    // the installed suite is not the version this tool serves
  UnknownDataVersion,  // the backup holds no common database
  DataVersion,         // its data version is not one this tool restores from
};

// The refusal in one sentence, built from the versions the gate holds.
std::string RefusalText(Refusal refusal);

// What a check or a restore came to. A failure carries the run-time error
// (number and description) exactly as it was raised, for the caller to
// report as it reports errors.
struct Outcome {
  enum class Kind { Done, Refused, Failed };
  Kind kind = Kind::Done;
  Refusal refusal = Refusal::None;
  rt::RuntimeError error{0, ""};
  std::string dataVersion;  // the backup's, once read
  // Held while old history entries are removed on a thread: the last copy of
  // the outcome waits for them, so the caller may tell the user first.
  std::shared_ptr<void> pruning;

  bool done() const { return kind == Kind::Done; }
  static Outcome Refused(Refusal why, std::string version = {});
  static Outcome Failed(rt::RuntimeError error);
};

// What the restore asks of whoever runs it, in this order: the wait notice
// up, pending events through once, the notice down after the templates are
// in place. On a failure the notice is not taken down.
class RestoreFeedback {
 public:
  virtual ~RestoreFeedback() = default;
  virtual void ShowWaitNotice() = 0;
  virtual void LetEventsThrough() = 0;
  virtual void HideWaitNotice() = 0;
};

// For callers with nobody to show anything to.
class NoFeedback : public RestoreFeedback {
 public:
  void ShowWaitNotice() override {}
  void LetEventsThrough() override {}
  void HideWaitNotice() override {}
};

}  // namespace zr::restore
