#pragma once

// The members a header walk has found so far, handed out one at a time to the threads that check them.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/lzh/HeaderWalk.h"
#include "platform/lzh/MemberCheck.h"

namespace zr::lzh {

// The walk adds members in file order while the checking threads take
// them; each member's result keeps its place in file order. Members and
// results stay where they are while more are added.
class CheckQueue {
 public:
  // Called by the walk for each member it finds.
  void Add(IndexedMember&& member);
  // Called once the walk is over, however it ended.
  void End();

  // The next member nobody has taken and the place for its result, waiting
  // for the walk when it has not got that far; false once the walk is over
  // and every member taken.
  bool Take(const IndexedMember*& member, MemberCheck*& result);

  // Every result in file order, once nobody takes any more.
  std::vector<MemberCheck> Results();

 private:
  std::mutex mutex_;
  std::condition_variable added_;
  std::deque<IndexedMember> members_;
  std::deque<MemberCheck> results_;
  std::size_t next_ = 0;
  bool ended_ = false;
};

}  // namespace zr::lzh
