#include "suite/widgets/QtProgressNotice.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "platform/runtime/RuntimeError.h"
#include "platform/ui/QtMessageBox.h"

namespace zr::suite {
namespace {

constexpr int kStepsPerSweep = 24;

// A notice window built while nobody waits (PrepareProgressNotice), taken by
// the next notice, so that showing it is all a restore waits for.
QPointer<QWidget> spare;

QWidget* BuildNoticeWindow() {
  auto* window =
      new QFrame(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
  window->setObjectName(QStringLiteral("zrProgressNotice"));
  window->setFrameShape(QFrame::Box);
  window->setLineWidth(1);
  window->setAttribute(Qt::WA_ShowWithoutActivating);
  window->setFocusPolicy(Qt::NoFocus);

  auto* label = new QLabel(window);
  label->setObjectName(QStringLiteral("message"));
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignCenter);

  auto* layout = new QVBoxLayout(window);
  layout->setContentsMargins(24, 16, 24, 16);
  layout->setSpacing(12);
  layout->addWidget(label);
  layout->addWidget(new BusyIndicator(window));
  return window;
}

// Prepares the spare notice after the first paint of a window, once that
// paint and what it set off are done.
class PrepareAfterFirstPaint : public QObject {
 public:
  explicit PrepareAfterFirstPaint(QObject* parent) : QObject(parent) { qApp->installEventFilter(this); }
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (event->type() == QEvent::Paint && widget != nullptr && widget->isWindow()) {
      qApp->removeEventFilter(this);
      // Twice queued: whatever else waits on that paint goes first.
      QTimer::singleShot(0, qApp, [] { QTimer::singleShot(0, qApp, PrepareProgressNotice); });
      deleteLater();
    }
    return false;
  }
};

void RequireWidgetThread() {
  auto* app = QCoreApplication::instance();
  if (app == nullptr || QThread::currentThread() != app->thread()) {
    throw rt::RuntimeError(rt::err::Internal, "処理中の表示を画面のスレッド以外から操作することはできません。");
  }
}

}  // namespace

BusyIndicator::BusyIndicator(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("busyIndicator"));
  timer_.setInterval(80);
  connect(&timer_, &QTimer::timeout, this, [this] {
    const int now = ++step_;
    update();
    emit advanced(now);
  });
}

QSize BusyIndicator::sizeHint() const { return {240, 14}; }

void BusyIndicator::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const QRect track = rect().adjusted(0, 0, -1, -1);
  painter.setPen(palette().color(QPalette::Mid));
  painter.setBrush(palette().color(QPalette::Base));
  painter.drawRect(track);

  // A block that sweeps from left to right and enters again from the left.
  const int block = std::max(8, width() / 4);
  const int travel = width() + block;
  const int offset = (step_.load() % kStepsPerSweep) * travel / kStepsPerSweep - block;
  painter.setPen(Qt::NoPen);
  painter.setBrush(palette().color(QPalette::Highlight));
  painter.setClipRect(track.adjusted(2, 2, -1, -1));
  painter.drawRect(QRect(offset, 2, block, height() - 4));
}

void BusyIndicator::showEvent(QShowEvent* event) {
  timer_.start();
  QWidget::showEvent(event);
}

void BusyIndicator::hideEvent(QHideEvent* event) {
  timer_.stop();
  QWidget::hideEvent(event);
}

QtProgressNotice::QtProgressNotice() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (app == nullptr || QThread::currentThread() != app->thread()) {
    throw rt::RuntimeError(rt::err::CannotCreateComponent, "処理中の表示を作成できません。");
  }
  QWidget* window = spare.data();
  spare = nullptr;
  if (window == nullptr) window = BuildNoticeWindow();
  label_ = window->findChild<QLabel*>(QStringLiteral("message"));
  window_ = window;
}

void PrepareProgressNotice() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (spare || app == nullptr || QThread::currentThread() != app->thread()) return;
  QWidget* window = BuildNoticeWindow();
  window->ensurePolished();
  window->adjustSize();
  // The native window and the wait cursor's first use, here rather than in
  // the restore; the pointer over the notice is the hourglass in any case.
  window->setCursor(Qt::WaitCursor);
  window->winId();
  spare = window;
}

void PrepareProgressNoticeAfterFirstPaint() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) new PrepareAfterFirstPaint(qApp);
}

QtProgressNotice::~QtProgressNotice() {
  // Dropping the last reference must not throw; a notice released on the
  // wrong thread leaves its window to the widget thread.
  if (!window_) return;
  auto* app = QCoreApplication::instance();
  if (app != nullptr && QThread::currentThread() == app->thread()) {
    delete window_.data();
  } else {
    window_->deleteLater();
  }
}

QWidget* QtProgressNotice::CheckedWindow() const {
  RequireWidgetThread();
  if (!window_) throw rt::RuntimeError(rt::err::Internal, "処理中の表示が閉じられています。");
  return window_;
}

void QtProgressNotice::SetVisible(int16_t visible) {
  QWidget* window = CheckedWindow();
  if (visible != 0) {
    window->adjustSize();
    PlaceOverActiveWindow();
    window->show();
    window->raise();
  } else {
    window->hide();
  }
}

void QtProgressNotice::SetMessage(std::string message) {
  QWidget* window = CheckedWindow();
  label_->setText(ui::ToDisplayLines(message));
  if (window->isVisible()) {
    window->adjustSize();
    PlaceOverActiveWindow();
  }
}

int32_t QtProgressNotice::Refresh() {
  QWidget* window = CheckedWindow();
  if (window->isVisible()) window->repaint();
  // Lets the window system map, paint or unmap the notice now; user input
  // waits, as it does during the extraction.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  return 0;
}

void QtProgressNotice::PlaceOverActiveWindow() {
  QWidget* over = QApplication::activeWindow();
  if (over == window_) over = nullptr;
  QRect area;
  if (over != nullptr) {
    area = over->frameGeometry();
    if (window_->windowHandle() == nullptr) window_->createWinId();
    if (window_->windowHandle() && over->windowHandle()) {
      window_->windowHandle()->setTransientParent(over->windowHandle());
    }
  } else {
    QScreen* screen = QGuiApplication::primaryScreen();
    area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  }
  QRect placed(QPoint(0, 0), window_->size());
  placed.moveCenter(area.center());
  window_->move(placed.topLeft());
}

}  // namespace zr::suite
