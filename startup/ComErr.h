#pragma once

#include <cstdint>
#include <string>

#include "platform/runtime/RuntimeError.h"

namespace zr::startup {

// The one place where an unexpected run-time error is reported: logged
// through the suite, then shown with the offer to end the program. Returns 1
// when the user chose to go on.
int16_t PIntErrTrap(std::string& errorNumber, std::string& description, std::string& procedureName);

// What every trapping procedure does from its handler: reports the error in
// flight. Call only inside a catch block.
void TrapCurrentError(const char* procedureName);

// Reports `error`, caught and carried here by the one who raised it, as
// TrapCurrentError reports the error in flight.
void TrapError(const rt::RuntimeError& error, const char* procedureName);

}  // namespace zr::startup
