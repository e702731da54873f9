#include "platform/ui/TimingTrace.h"

#include <QApplication>
#include <QSet>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/runtime/Interaction.h"
#include "platform/runtime/Moments.h"

namespace zr::ui {
namespace {

class WindowPaintTrace : public QObject {
 public:
  explicit WindowPaintTrace(QObject* parent) : QObject(parent) { qApp->installEventFilter(this); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || !widget->isWindow()) return false;
    if (event->type() == QEvent::Show) shown_.insert(widget);
    if (event->type() == QEvent::Paint && shown_.remove(widget)) {
      // The paint is on screen only once the event that drew it is done.
      QTimer::singleShot(0, this,
                         [kind = std::string(widget->metaObject()->className())] { TraceMoment("painted", kind); });
    }
    return false;
  }

 private:
  QSet<QWidget*> shown_;
};

void TraceMessageBoxes() {
  auto hooks = rt::InstallInteraction({});
  hooks.messageBox = [box = hooks.messageBox](const std::string& text, int style, const std::string& title) {
    TraceMoment("msgbox-open", std::to_string(style));
    const int answer = box(text, style, title);
    TraceMoment("msgbox-answered", std::to_string(answer));
    return answer;
  };
  rt::InstallInteraction(std::move(hooks));
}

}  // namespace

bool TimingRequested() { return std::getenv("ZR_TIMING") != nullptr; }

void TraceMoment(const char* moment, const std::string& detail) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::fprintf(stderr, "zr-timing %s %s %lld.%09ld\n", moment, detail.c_str(), static_cast<long long>(now.tv_sec),
               now.tv_nsec);
}

void StartTimingTrace() {
  if (!TimingRequested()) return;
  new WindowPaintTrace(qApp);
  TraceMessageBoxes();
  rt::InstallMomentListener([](const char* moment) { TraceMoment("step", moment); });
}

}  // namespace zr::ui
