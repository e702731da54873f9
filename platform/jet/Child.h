#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/jet/MdbRead.h"

// Runs a libmdb read in a forked child so that a damaged file can cost at
// most that child: a crash, a runaway loop or memory growth there becomes
// an unreadable database here.
namespace zr::jet::detail {

// How long a child may take before it is ended and the file called unreadable.
void SetChildDeadline(std::chrono::milliseconds deadline);
std::chrono::milliseconds ChildDeadline();

ReadOutcome RunInChild(const std::function<ReadOutcome()>& body);

// The child's report on the pipe.
std::string EncodeOutcome(const ReadOutcome& outcome);
std::optional<ReadOutcome> DecodeOutcome(std::string_view bytes);

}  // namespace zr::jet::detail
