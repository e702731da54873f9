#include "platform/ui/QtInteraction.h"

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <utility>

#include "platform/runtime/Interaction.h"
#include "platform/ui/QtMessageBox.h"

namespace zr::ui {
namespace {

bool waitCursorShown = false;
// The innermost wait's look at its work; touched on the widget thread only.
const std::function<void()>* lookNow = nullptr;

void SetPointer(int code) {
  const bool wantWait = code == rt::pointer::Hourglass;
  if (wantWait && !waitCursorShown) {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    waitCursorShown = true;
  } else if (!wantWait && waitCursorShown) {
    QGuiApplication::restoreOverrideCursor();
    waitCursorShown = false;
  }
}

void WaitKeepingPaint(const std::function<bool()>& done) {
  if (done()) return;
  QEventLoop loop;
  const std::function<void()> look = [&] {
    if (done()) loop.quit();
  };
  const std::function<void()>* outer = std::exchange(lookNow, &look);
  // The work wakes the wait when it ends (WakeWaiting); the timer only
  // covers work that does not.
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, &loop, look);
  poll.start();
  // Whatever the next box needs is made now rather than after the wait.
  QTimer::singleShot(0, &loop, BuildPreparedMessageBox);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  lookNow = outer;
}

void WakeTheWait() {
  if (qApp == nullptr) return;
  QMetaObject::invokeMethod(
      qApp,
      [] {
        if (lookNow != nullptr) (*lookNow)();
      },
      Qt::QueuedConnection);
}

}  // namespace

void InstallQtInteraction() {
  rt::InteractionHooks hooks;
  hooks.messageBox = [](const std::string& text, int style, const std::string& title) {
    return ShowMessageBox(QApplication::activeWindow(), text, style, title);
  };
  hooks.setMousePointer = SetPointer;
  hooks.doEvents = [] { QCoreApplication::processEvents(); };
  hooks.waitUntil = WaitKeepingPaint;
  hooks.wake = WakeTheWait;
  hooks.prepareMessageBox = PrepareMessageBox;
  rt::InstallInteraction(std::move(hooks));
}

}  // namespace zr::ui
