#include "tests/support/ScriptedInteraction.h"

#include <gtest/gtest.h>

namespace zr::test {

ScriptedInteraction::ScriptedInteraction() {
  rt::InteractionHooks hooks;
  hooks.messageBox = [this](const std::string& text, int style, const std::string& title) {
    return Show(text, style, title);
  };
  hooks.endProgram = [this](int status) {
    ++endCount_;
    lastEndStatus_ = status;
  };
  hooks.setMousePointer = [this](int code) { pointerCodes_.push_back(code); };
  hooks.doEvents = [this] { ++doEventsCount_; };
  previous_ = rt::InstallInteraction(std::move(hooks));
  rt::SetMousePointer(rt::pointer::Default);
  pointerCodes_.clear();
}

ScriptedInteraction::~ScriptedInteraction() {
  EXPECT_TRUE(answers_.empty()) << answers_.size() << " scripted answer(s) were never asked for";
  rt::InstallInteraction(previous_);
}

std::string ScriptedInteraction::Seen() const {
  std::string seen = boxes_.empty() ? "no message box was shown" : "message boxes shown:";
  for (const MessageBoxCall& box : boxes_) seen += "\n  [" + box.title + "] " + box.text;
  return seen;
}

int ScriptedInteraction::Show(const std::string& text, int style, const std::string& title) {
  boxes_.push_back({text, style, title});
  if (!answers_.empty()) {
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
  }
  ADD_FAILURE() << "unexpected message box \"" << title << "\": " << text;
  switch (style & rt::mb::ButtonMask) {
    case rt::mb::OkCancel:
      return rt::mb::AnswerCancel;
    case rt::mb::YesNo:
      return rt::mb::AnswerNo;
    default:
      return rt::mb::AnswerOk;
  }
}

}  // namespace zr::test
