#pragma once

#include <string_view>

#include "platform/jet/Protocol.h"

// The helper's side of the conversation (Protocol.h): it runs libmdb, in
// the helper process only.
namespace zr::jet::detail {

// Whether the database on `database` opens with the password in `connect`.
// A damaged file is called unreadable, not a wrong password: its catalog is
// read before the password is looked at.
OpenVerdict CheckOpen(int database, std::string_view connect);

// Answers the questions that arrive on `channel` about the database on
// `database` until the program closes the channel (status 0). A question out
// of form, or one asked out of turn, ends the conversation without an answer
// (status 2).
int ServeReads(int database, int channel);

}  // namespace zr::jet::detail
