#pragma once

namespace zr::rt {

// Makes sure the C library handles text as UTF-8: keeps the environment's
// locale when it already is UTF-8, otherwise switches LC_CTYPE to C.UTF-8.
// Japanese file and member names depend on it. Returns false only when no
// UTF-8 locale is available at all.
bool EnsureUtf8Locale();

}  // namespace zr::rt
