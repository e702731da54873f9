#pragma once

#include <string>

#include "cli/Commands.h"

namespace zr::cli {

// Shows one critical notification through the freedesktop notification
// service on the session bus. Waits at most a short while for the service;
// false, with why in `problem`, when there is no bus, no service, or no answer.
bool ShowDesktopNotification(const std::string& summary, const std::string& body, std::string& problem);

// Makes an NG verdict heard beyond standard output: one line in the suite's
// error log and one desktop notification; what cannot be done goes to stderr.
void ReportBrokenBackup(const std::string& archive, const std::string& reason, Console& console);

}  // namespace zr::cli
