// A folder the program writes into is a folder, never a link to one.
#include "platform/replace/LinkedFolder.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "platform/runtime/FileOps.h"
#include "platform/runtime/RuntimeError.h"

namespace zr::replace {

void RefuseLinkedFolder(int parentFd, const std::string& name, const std::string& shown) {
  struct stat st {};
  if (rt::Ops().FstatAt(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode)) return;
  throw rt::RuntimeError(
      rt::err::PathFileAccess,
      "「" + shown + "」はシンボリックリンクです。リンク先には書き込まないため、処理を中止しました。");
}

}  // namespace zr::replace
