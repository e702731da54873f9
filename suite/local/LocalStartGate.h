#pragma once

#include "suite/StartGate.h"

namespace zr::suite {

// Refuses the start (answer 1) while another program of the suite, under an
// identifier other than the ones this process registered under, holds its run
// lock; the user is told which program is running before the answer is given.
// Otherwise the answer is 0.
class LocalStartGate : public StartGate {
 public:
  void Check(int32_t& answer) override;
};

}  // namespace zr::suite
