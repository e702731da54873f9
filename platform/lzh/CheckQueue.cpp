// The members a header walk has found so far, handed out one at a time to the threads that check them.
#include "platform/lzh/CheckQueue.h"

#include <iterator>

namespace zr::lzh {

void CheckQueue::Add(IndexedMember&& member) {
  {
    std::lock_guard lock(mutex_);
    members_.push_back(std::move(member));
    results_.emplace_back();
  }
  added_.notify_one();
}

void CheckQueue::End() {
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
  }
  added_.notify_all();
}

bool CheckQueue::Take(const IndexedMember*& member, MemberCheck*& result) {
  std::unique_lock lock(mutex_);
  added_.wait(lock, [&] { return next_ < members_.size() || ended_; });
  if (next_ == members_.size()) return false;
  member = &members_[next_];
  result = &results_[next_];
  ++next_;
  return true;
}

std::vector<MemberCheck> CheckQueue::Results() {
  std::lock_guard lock(mutex_);
  return {std::make_move_iterator(results_.begin()), std::make_move_iterator(results_.end())};
}

}  // namespace zr::lzh
