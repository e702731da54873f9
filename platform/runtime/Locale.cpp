#include "Locale.h"

#include <langinfo.h>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace zr::rt {
namespace {

bool CodesetIsUtf8() {
  const char* codeset = nl_langinfo(CODESET);
  return codeset != nullptr && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
}

}  // namespace

bool EnsureUtf8Locale() {
  if (std::setlocale(LC_ALL, "") != nullptr && CodesetIsUtf8()) return true;
  for (const char* candidate : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
    if (std::setlocale(LC_CTYPE, candidate) != nullptr && CodesetIsUtf8()) {
      // Child processes and Qt read the environment, not the C library state.
      setenv("LC_CTYPE", candidate, 1);
      unsetenv("LC_ALL");
      return true;
    }
  }
  return false;
}

}  // namespace zr::rt
