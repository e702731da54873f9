#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/runtime/Interaction.h"

namespace zr::test {

struct MessageBoxCall {
  std::string text;
  int style = 0;
  std::string title;

  int buttons() const { return style & rt::mb::ButtonMask; }
  int icon() const { return style & rt::mb::IconMask; }
};

// Replaces the message box, the end of the program, the pointer and the
// event pass for the life of the object. Message boxes are answered from a
// queue; a box nobody scripted fails the test and gets its cautious answer
// (OK, Cancel or No) instead of hanging.
class ScriptedInteraction {
 public:
  ScriptedInteraction();
  ~ScriptedInteraction();
  ScriptedInteraction(const ScriptedInteraction&) = delete;
  ScriptedInteraction& operator=(const ScriptedInteraction&) = delete;

  // Queues the answer for the next message box.
  void Answer(int answer) { answers_.push_back(answer); }

  const std::vector<MessageBoxCall>& boxes() const { return boxes_; }
  int endCount() const { return endCount_; }
  int lastEndStatus() const { return lastEndStatus_; }
  int doEventsCount() const { return doEventsCount_; }
  const std::vector<int>& pointerCodes() const { return pointerCodes_; }
  bool allAnswersUsed() const { return answers_.empty(); }
  // Every box shown so far, one a line, for the message of a failing check:
  // a restore that did not happen says why in the box it showed.
  std::string Seen() const;

 private:
  int Show(const std::string& text, int style, const std::string& title);

  std::deque<int> answers_;
  std::vector<MessageBoxCall> boxes_;
  std::vector<int> pointerCodes_;
  int endCount_ = 0;
  int lastEndStatus_ = -1;
  int doEventsCount_ = 0;
  rt::InteractionHooks previous_;
};

}  // namespace zr::test
