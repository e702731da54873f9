#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QScreen>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/runtime/Interaction.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/ui/QtInteraction.h"
#include "suite/Components.h"
#include "suite/widgets/InstallLocalSuite.h"
#include "suite/widgets/QtProgressNotice.h"

namespace zr::suite {
namespace {

class PaintCounter : public QObject {
 public:
  std::atomic<int> paints{0};
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(watched, event);
  }
};

QWidget* ShownNotice() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == QStringLiteral("zrProgressNotice") && widget->isVisible()) return widget;
  }
  return nullptr;
}

TEST(ProgressNoticeTest, ShowsItsMessageBetweenTheTwoRefreshes) {
  QtProgressNotice notice;
  notice.SetMessage("リストアしています．．．");
  EXPECT_EQ(ShownNotice(), nullptr) << "shown before Visible";
  notice.SetVisible(-1);
  EXPECT_EQ(notice.Refresh(), 0);

  QWidget* shown = ShownNotice();
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown, notice.window());
  EXPECT_TRUE(shown->windowFlags() & Qt::FramelessWindowHint);
  auto* label = shown->findChild<QLabel*>(QStringLiteral("message"));
  ASSERT_NE(label, nullptr);
  EXPECT_TRUE(label->isVisible());
  EXPECT_EQ(label->text(), QStringLiteral("リストアしています．．．"));
  EXPECT_GE(shown->width(), label->sizeHint().width()) << "the text fits";
  auto* indicator = shown->findChild<BusyIndicator*>();
  ASSERT_NE(indicator, nullptr);
  EXPECT_TRUE(indicator->isVisible());

  notice.SetVisible(0);
  EXPECT_EQ(notice.Refresh(), 0);
  EXPECT_EQ(ShownNotice(), nullptr);
}

TEST(ProgressNoticeTest, AWindowPreparedAheadIsTakenByTheNextNotice) {
  PrepareProgressNotice();
  QWidget* prepared = nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == QStringLiteral("zrProgressNotice")) prepared = widget;
  }
  ASSERT_NE(prepared, nullptr);
  EXPECT_FALSE(prepared->isVisible());

  QtProgressNotice notice;
  EXPECT_EQ(notice.window(), prepared);
  notice.SetMessage("リストアしています．．．");
  notice.SetVisible(-1);
  notice.Refresh();
  ASSERT_EQ(ShownNotice(), prepared);
  EXPECT_EQ(prepared->findChild<QLabel*>(QStringLiteral("message"))->text(),
            QStringLiteral("リストアしています．．．"));

  QtProgressNotice second;
  EXPECT_NE(second.window(), prepared) << "one prepared window, taken once";
}

TEST(ProgressNoticeTest, ReleasingTheNoticeTakesItsWindowAway) {
  {
    QtProgressNotice notice;
    notice.SetVisible(-1);
    notice.Refresh();
    ASSERT_NE(ShownNotice(), nullptr);
  }
  EXPECT_EQ(ShownNotice(), nullptr) << "the error path only releases the notice";
}

TEST(ProgressNoticeTest, CentredOverTheActiveWindow) {
  QWidget owner;
  owner.setGeometry(120, 80, 640, 480);
  owner.show();
  owner.activateWindow();
  QCoreApplication::processEvents();
  ASSERT_EQ(QApplication::activeWindow(), &owner) << "this platform does not activate windows";

  QtProgressNotice notice;
  notice.SetMessage("リストアしています．．．");
  notice.SetVisible(-1);
  notice.Refresh();
  const QPoint offset = notice.window()->frameGeometry().center() - owner.frameGeometry().center();
  EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();
}

TEST(ProgressNoticeTest, CentredOnTheScreenWithoutAnActiveWindow) {
  ASSERT_EQ(QApplication::activeWindow(), nullptr);
  QtProgressNotice notice;
  notice.SetMessage("リストアしています．．．");
  notice.SetVisible(-1);
  notice.Refresh();
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const QPoint offset = notice.window()->frameGeometry().center() - screen.center();
  EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();
}

// While the caller waits for a worker in rt::WaitUntil, the indicator keeps
// moving and painting. The worker finishes only after it has seen the
// indicator move, so the test waits for exactly what it checks.
TEST(ProgressNoticeTest, IndicatorKeepsMovingWhileTheCallerWaits) {
  const rt::InteractionHooks previous = rt::InstallInteraction({});
  ui::InstallQtInteraction();

  QtProgressNotice notice;
  notice.SetMessage("リストアしています．．．");
  notice.SetVisible(-1);
  notice.Refresh();
  auto* indicator = notice.window()->findChild<BusyIndicator*>();
  ASSERT_NE(indicator, nullptr);

  std::mutex mutex;
  std::condition_variable moved;
  std::atomic<bool> waiting{false};
  int movesDuringWait = 0;
  int hiddenDuringWait = 0;
  QObject::connect(indicator, &BusyIndicator::advanced, indicator, [&](int) {
    if (!waiting.load()) return;
    std::lock_guard lock(mutex);
    ++movesDuringWait;
    if (!notice.window()->isVisible()) ++hiddenDuringWait;
    moved.notify_all();
  });

  std::atomic<bool> done{false};
  bool sawMoves = false;
  std::thread worker([&] {
    std::unique_lock lock(mutex);
    // The deadline only keeps a broken indicator from hanging the run.
    sawMoves = moved.wait_for(lock, std::chrono::seconds(30), [&] { return movesDuringWait >= 3; });
    done = true;
  });

  PaintCounter painted;
  indicator->installEventFilter(&painted);
  const int before = indicator->step();
  waiting = true;
  rt::WaitUntil([&] { return done.load(); });
  waiting = false;
  worker.join();

  EXPECT_TRUE(sawMoves) << "the indicator stood still during the wait";
  EXPECT_GE(indicator->step() - before, 3);
  EXPECT_GE(painted.paints.load(), 1) << "the indicator moved but was never painted";
  indicator->removeEventFilter(&painted);
  EXPECT_EQ(hiddenDuringWait, 0);

  notice.SetVisible(0);
  notice.Refresh();
  const int stopped = indicator->step();
  QCoreApplication::processEvents();
  EXPECT_FALSE(indicator->isVisible());
  EXPECT_EQ(indicator->step(), stopped);
  rt::InstallInteraction(previous);
}

TEST(ProgressNoticeTest, CallsFromAnotherThreadAreRunTimeErrors) {
  QtProgressNotice notice;
  int errors = 0;
  std::thread other([&] {
    try {
      notice.SetVisible(-1);
    } catch (const rt::RuntimeError&) {
      ++errors;
    }
    try {
      notice.SetMessage("x");
    } catch (const rt::RuntimeError&) {
      ++errors;
    }
    try {
      notice.Refresh();
    } catch (const rt::RuntimeError&) {
      ++errors;
    }
  });
  other.join();
  EXPECT_EQ(errors, 3);
  EXPECT_FALSE(notice.window()->isVisible());
}

TEST(ProgressNoticeTest, CreatedOnlyOnTheWidgetThread) {
  const ComponentFactory previous = InstallLocalSuite();
  int32_t number = 0;
  std::thread other([&] {
    try {
      CreateProgressNotice();
    } catch (const rt::RuntimeError& e) {
      number = e.number();
    }
  });
  other.join();
  EXPECT_EQ(number, rt::err::CannotCreateComponent);
  InstallComponentFactory(previous);
}

}  // namespace
}  // namespace zr::suite
