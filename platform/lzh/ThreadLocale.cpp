// A UTF-8 character locale for the calling thread only, for libarchive's sake.
#include "platform/lzh/ThreadLocale.h"

#include "platform/runtime/RuntimeError.h"

namespace zr::lzh {

ThreadUtf8Locale::ThreadUtf8Locale() {
  for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
    locale_ = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
    if (locale_ != static_cast<locale_t>(nullptr)) break;
  }
  if (locale_ == static_cast<locale_t>(nullptr)) {
    throw rt::RuntimeError(rt::err::Internal,
                           "UTF-8のロケールが利用できないため、バックアップファイルを読み込めません。");
  }
  previous_ = uselocale(locale_);
}

ThreadUtf8Locale::~ThreadUtf8Locale() {
  uselocale(previous_);
  freelocale(locale_);
}

}  // namespace zr::lzh
