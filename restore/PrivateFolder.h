#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/runtime/UniqueFd.h"

namespace zr::restore {

// A folder of the program's own inside a folder other users may share: a
// fresh random name, made with mode 0700 and held open from then on. It and
// whatever it holds go when the object does; nothing else in the parent is
// ever touched. Where modes mean nothing (FAT, exFAT, SMB) others may still
// write into it, so what it holds is never trusted by its name.
class PrivateFolder {
 public:
  // A run-time error when it cannot be made.
  PrivateFolder(const std::string& parent, std::string_view prefix);
  // Removes it; failures are ignored.
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  int fd() const { return folder_.get(); }
  // Its full path, ending with "/", for messages.
  const std::string& path() const { return path_; }

 private:
  rt::UniqueFd parent_;
  rt::UniqueFd folder_;
  std::string name_;
  std::string path_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

}  // namespace zr::restore
