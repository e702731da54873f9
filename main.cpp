#include <QApplication>
#include <iostream>

#include "cli/CommandLine.h"
#include "cli/Program.h"
#include "platform/runtime/Application.h"
#include "platform/runtime/Locale.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/ui/DisplayProbe.h"
#include "platform/ui/JapaneseUi.h"
#include "platform/ui/QtInteraction.h"
#include "platform/ui/TimingTrace.h"
#include "restore/History.h"
#include "startup/modZrBunsyoRes.h"
#include "suite/local/SuiteHome.h"
#include "suite/widgets/InstallLocalSuite.h"
#include "window/RestoreWindowHost.h"
#include "window/UnhandledError.h"

int main(int argc, char** argv) {
  if (zr::ui::TimingRequested()) zr::ui::TraceMoment("main", "-");
  zr::rt::EnsureUtf8Locale();
  zr::rt::SetApplicationIdentity("ZrBunsyoRes", ZR_DISPLAY_VERSION);
  zr::restore::InstallHistoryRoot([] { return zr::suite::SuiteHome() / "history"; });
  const zr::cli::Request request = zr::cli::ParseCommandLine({argv + 1, argv + argc});
  if (request.command != zr::cli::Command::Window) return zr::cli::RunProgram(request, argc, argv);

  if (!zr::ui::DisplayAnswers(argc, argv)) {
    std::cerr << "ZrBunsyoRes: 画面に接続できないため、ウィンドウを開けません。"
                 "DISPLAY または WAYLAND_DISPLAY の設定と、画面が使える状態かを確認してください。\n";
    return 1;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("ZrBunsyoRes"));
  QApplication::setApplicationVersion(QStringLiteral(ZR_DISPLAY_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("ZrBunsyoRes"));
  zr::ui::InstallQtInteraction();
  zr::ui::StartTimingTrace();
  zr::ui::InstallJapaneseFontSubstitutes();
  QApplication::setFont(zr::ui::WindowFont(9));
  zr::ui::InstallQtTranslations();

  zr::window::RestoreWindowHost host;
  try {
    zr::suite::InstallLocalSuite();
    zr::startup::Main(host);
  } catch (...) {
    zr::window::ReportUnhandledError(zr::rt::CurrentError());
    return 1;
  }
  if (!host.WasShown()) return 0;
  return QApplication::exec();
}
