#pragma once

#include <memory>
#include <string>

#include "suite/SuiteServices.h"

namespace zr::startup {

// The suite's temporary folder, exactly as the suite returned it at start-up.
extern std::string GStrTempPath;

// The identifier under which this tool announces itself to the suite.
inline constexpr const char* kProgramId = "TOOL(BackUp)";

// The one restore window of the program, created on first use.
class RestoreWindowProvider {
 public:
  virtual ~RestoreWindowProvider() = default;
  // Creates the window when it does not exist yet, then shows it without
  // waiting for it to close; its load handling runs inside this call.
  virtual void ShowModeless() = 0;
};

// The start rules every way into a restore obeys, the window's and the
// command line's: announces the tool to the suite, asks the suite and its
// start gate (one instance, no other suite program running) and reads the
// temporary folder into GStrTempPath. Returns the services instance the tool
// registered through, for the caller to hold while it runs; null, having done
// nothing more, when the tool may not run. Errors are left to the caller.
std::unique_ptr<suite::SuiteServices> MayStart();

// The program's entry: the start rules, then the window. Has no error handling of its own: a run-time error
// leaves it for the caller, which ends the program.
void Main(RestoreWindowProvider& window);

// True when the location may be restored from: refused only when it lies in
// the "cjs" folder directly under the suite's install root.
bool PBlnPathChk(std::string location);

}  // namespace zr::startup
