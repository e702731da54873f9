#include <QApplication>
#include <cstdio>

#include "platform/runtime/Application.h"
#include "platform/runtime/Locale.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/ui/JapaneseUi.h"
#include "platform/ui/QtInteraction.h"
#include "startup/modZrBunsyoRes.h"
#include "suite/widgets/InstallLocalSuite.h"
#include "window/RestoreWindowHost.h"
#include "window/UnhandledError.h"

int main(int argc, char** argv) {
  zr::rt::EnsureUtf8Locale();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("ZrBunsyoRes"));
  QApplication::setApplicationVersion(QStringLiteral(ZR_DISPLAY_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("ZrBunsyoRes"));
  zr::rt::SetApplicationIdentity("ZrBunsyoRes", ZR_DISPLAY_VERSION);
  zr::ui::InstallQtInteraction();
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
