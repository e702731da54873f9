#pragma once

#include <string>

namespace zr::rt {

// What the running program knows of itself: handed to the suite when an
// error is reported, so the log can say which program wrote an entry.
struct ApplicationObject {
  std::string title;
  std::string exeName;
  std::string path;  // folder of the executable
  std::string version;
};

// The running program's object. Filled from /proc/self/exe and the values
// given to SetApplicationIdentity.
const ApplicationObject& App();

void SetApplicationIdentity(const std::string& title, const std::string& version);

}  // namespace zr::rt
