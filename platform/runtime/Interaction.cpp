#include "Interaction.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

#include "RuntimeError.h"

namespace zr::rt {
namespace {

std::mutex hooksMutex;
InteractionHooks installed;
int currentPointer = pointer::Default;

InteractionHooks Current() {
  std::lock_guard lock(hooksMutex);
  return installed;
}

}  // namespace

InteractionHooks InstallInteraction(InteractionHooks hooks) {
  std::lock_guard lock(hooksMutex);
  std::swap(installed, hooks);
  return hooks;
}

int MsgBox(const std::string& text, int style, const std::string& title) {
  auto hooks = Current();
  if (!hooks.messageBox) {
    throw RuntimeError(err::Internal, "メッセージボックスを表示できません。");
  }
  return hooks.messageBox(text, style, title);
}

void PrepareMsgBox(const std::string& text, int style, const std::string& title) {
  if (auto hooks = Current(); hooks.prepareMessageBox) hooks.prepareMessageBox(text, style, title);
}

void EndProgram(int status) {
  auto hooks = Current();
  if (hooks.endProgram) {
    hooks.endProgram(status);
    return;
  }
  std::fflush(nullptr);
  std::_Exit(status);
}

void SetMousePointer(int code) {
  auto hooks = Current();
  if (hooks.setMousePointer) hooks.setMousePointer(code);
  std::lock_guard lock(hooksMutex);
  currentPointer = code;
}

int MousePointer() {
  std::lock_guard lock(hooksMutex);
  return currentPointer;
}

void DoEvents() {
  auto hooks = Current();
  if (hooks.doEvents) hooks.doEvents();
}

void WaitUntil(const std::function<bool()>& done) {
  auto hooks = Current();
  if (hooks.waitUntil) {
    hooks.waitUntil(done);
    return;
  }
  // Without an event loop to keep alive, a short nap costs the worker nothing.
  for (int spins = 0; !done(); ++spins) {
    if (spins < 64) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  }
}

void WakeWaiting() {
  auto hooks = Current();
  if (hooks.wake) hooks.wake();
}

}  // namespace zr::rt
