#pragma once

// A UTF-8 character locale for the calling thread only, for libarchive's sake.
#include <locale.h>

namespace zr::lzh {

// libarchive decides how to convert names from the calling thread's
// LC_CTYPE; a C locale makes it refuse every non-ASCII name. Each reader
// therefore runs under its own UTF-8 locale, leaving the process's alone.
class ThreadUtf8Locale {
 public:
  ThreadUtf8Locale();
  ~ThreadUtf8Locale();
  ThreadUtf8Locale(const ThreadUtf8Locale&) = delete;
  ThreadUtf8Locale& operator=(const ThreadUtf8Locale&) = delete;

 private:
  locale_t locale_ = static_cast<locale_t>(nullptr);
  locale_t previous_ = static_cast<locale_t>(nullptr);
};

}  // namespace zr::lzh
