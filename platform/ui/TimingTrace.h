#pragma once

#include <string>

// The whole-program benchmark's trace: with ZR_TIMING set in the
// environment, the program prints the moments it measures between on stderr
// as "zr-timing <moment> <detail> <wall-clock seconds>".
namespace zr::ui {

bool TimingRequested();

// Prints one moment, whether or not the trace was asked for.
void TraceMoment(const char* moment, const std::string& detail);

// From here on, each window's first paint (once flushed), each message box
// asked for and answered, and each moment the lower layers mark ("step").
// Needs the QApplication and the installed message box; does nothing unless
// the trace was asked for.
void StartTimingTrace();

}  // namespace zr::ui
