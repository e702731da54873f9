#pragma once

#include <dirent.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

namespace zr::test {

// Root reads every folder whatever its permissions. While this object lives,
// the calling thread gives up the two capabilities that allow that, so a
// folder without permissions refuses it like it refuses any user; they come
// back afterwards. Capabilities belong to the thread: other threads keep theirs.
class WithoutFileAccessOverride {
 public:
  WithoutFileAccessOverride() {
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    header_.pid = 0;
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    dropped_ = syscall(SYS_capset, &header_, reduced) == 0;
  }
  ~WithoutFileAccessOverride() {
    if (dropped_) syscall(SYS_capset, &header_, saved_);
  }
  WithoutFileAccessOverride(const WithoutFileAccessOverride&) = delete;
  WithoutFileAccessOverride& operator=(const WithoutFileAccessOverride&) = delete;

  // True when `folder` really refuses to be listed now; tests skip otherwise.
  static bool Refuses(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return true;
    closedir(dir);
    return false;
  }

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
  bool dropped_ = false;
};

}  // namespace zr::test
