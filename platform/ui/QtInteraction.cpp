#include "platform/ui/QtInteraction.h"

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>

#include "platform/runtime/Interaction.h"
#include "platform/ui/QtMessageBox.h"

namespace zr::ui {
namespace {

bool waitCursorShown = false;

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
  QTimer poll;
  // Short enough that the caller sees the end of the work at once, long
  // enough to cost nothing while a worker decodes.
  poll.setInterval(1);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  poll.start();
  loop.exec(QEventLoop::ExcludeUserInputEvents);
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
  rt::InstallInteraction(std::move(hooks));
}

}  // namespace zr::ui
