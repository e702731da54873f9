#include <QApplication>
#include <QSet>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "cli/CommandLine.h"
#include "cli/Program.h"
#include "platform/runtime/Application.h"
#include "platform/runtime/Interaction.h"
#include "platform/runtime/Locale.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/ui/JapaneseUi.h"
#include "platform/ui/QtInteraction.h"
#include "restore/History.h"
#include "startup/modZrBunsyoRes.h"
#include "suite/local/SuiteHome.h"
#include "suite/widgets/InstallLocalSuite.h"
#include "window/RestoreWindowHost.h"
#include "window/UnhandledError.h"

namespace {

// ZR_TIMING=1 prints the moments the benchmark measures between on stderr:
// "zr-timing <moment> <detail> <wall-clock seconds>".
void Trace(const char* moment, const std::string& detail) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::fprintf(stderr, "zr-timing %s %s %lld.%09ld\n", moment, detail.c_str(), static_cast<long long>(now.tv_sec),
               now.tv_nsec);
}

// Each window's first paint after it is shown, reported once the paint has
// been flushed, and each message box asked for and answered.
class TimingTrace : public QObject {
 public:
  TimingTrace() {
    qApp->installEventFilter(this);
    auto hooks = zr::rt::InstallInteraction({});
    hooks.messageBox = [box = hooks.messageBox](const std::string& text, int style, const std::string& title) {
      Trace("msgbox-open", std::to_string(style));
      const int answer = box(text, style, title);
      Trace("msgbox-answered", std::to_string(answer));
      return answer;
    };
    zr::rt::InstallInteraction(std::move(hooks));
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || !widget->isWindow()) return false;
    if (event->type() == QEvent::Show) shown_.insert(widget);
    if (event->type() == QEvent::Paint && shown_.remove(widget)) {
      QTimer::singleShot(0, this, [kind = std::string(widget->metaObject()->className())] { Trace("painted", kind); });
    }
    return false;
  }

 private:
  QSet<QWidget*> shown_;
};

}  // namespace

int main(int argc, char** argv) {
  const bool timing = std::getenv("ZR_TIMING") != nullptr;
  if (timing) Trace("main", "-");
  zr::rt::EnsureUtf8Locale();
  zr::rt::SetApplicationIdentity("ZrBunsyoRes", ZR_DISPLAY_VERSION);
  zr::restore::InstallHistoryRoot([] { return zr::suite::SuiteHome() / "history"; });
  const zr::cli::Request request = zr::cli::ParseCommandLine({argv + 1, argv + argc});
  if (request.command != zr::cli::Command::Window) return zr::cli::RunProgram(request, argc, argv);

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("ZrBunsyoRes"));
  QApplication::setApplicationVersion(QStringLiteral(ZR_DISPLAY_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("ZrBunsyoRes"));
  zr::ui::InstallQtInteraction();
  std::unique_ptr<TimingTrace> trace;
  if (timing) trace = std::make_unique<TimingTrace>();
  zr::ui::InstallJapaneseFontSubstitutes();
  QApplication::setFont(zr::ui::WindowFont(9));
  zr::ui::InstallQtTranslations();

  zr::window::RestoreWindowHost host;
  try {
    zr::suite::InstallLocalSuite();
    zr::startup::Main(host);
  } catch (...) {
    const std::string report = zr::window::UnhandledErrorReport(zr::rt::CurrentError());
    std::fprintf(stderr, "%s\n", report.c_str());
    return 1;
  }
  if (!host.WasShown()) return 0;
  return QApplication::exec();
}
