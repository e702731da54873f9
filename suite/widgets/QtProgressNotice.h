#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <string>

#include "suite/ProgressNotice.h"

class QLabel;

namespace zr::suite {

// A marquee that moves on its own timer, so it keeps moving while the
// caller's thread waits in rt::WaitUntil (which lets paint and timers run).
class BusyIndicator : public QWidget {
  Q_OBJECT

 public:
  explicit BusyIndicator(QWidget* parent = nullptr);

  // How many times the marquee has moved; readable from any thread.
  int step() const { return step_.load(); }
  QSize sizeHint() const override;

 signals:
  void advanced(int step);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QTimer timer_;
  std::atomic<int> step_{0};
};

// Builds a notice window ahead, for the next QtProgressNotice to take; on
// the widget thread only, otherwise nothing happens.
void PrepareProgressNotice();
// The same once a window of the program has painted for the first time.
void PrepareProgressNoticeAfterFirstPaint();

// The wait notice: a small frameless window with the message and a busy
// indicator, centred over the active window (or the screen without one).
// Every call must come from the thread that runs the widgets; a call from
// another thread, or on a notice whose window has gone, is a run-time error.
class QtProgressNotice : public ProgressNotice {
 public:
  QtProgressNotice();
  ~QtProgressNotice() override;
  QtProgressNotice(const QtProgressNotice&) = delete;
  QtProgressNotice& operator=(const QtProgressNotice&) = delete;

  void SetVisible(int16_t visible) override;
  void SetMessage(std::string message) override;
  int32_t Refresh() override;

  // The notice's window, for those who need to look at it.
  QWidget* window() const { return window_; }

 private:
  QWidget* CheckedWindow() const;
  void PlaceOverActiveWindow();

  QPointer<QWidget> window_;
  QLabel* label_ = nullptr;
};

}  // namespace zr::suite
