#include "cli/Program.h"

#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "cli/Commands.h"
#include "platform/runtime/Interaction.h"
#include "platform/ui/JapaneseUi.h"
#include "platform/ui/QtInteraction.h"
#include "suite/Components.h"
#include "suite/local/LocalStartGate.h"
#include "suite/local/LocalSuiteServices.h"

namespace zr::cli {
namespace {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

void InstallSuiteWithoutWindows() {
  suite::ComponentFactory factory;
  factory.suiteServices = [] { return std::make_unique<suite::LocalSuiteServices>(); };
  factory.startGate = [] { return std::make_unique<suite::LocalStartGate>(); };
  suite::InstallComponentFactory(std::move(factory));
}

// Messages the suite's components show (the start gate names a running
// program) go to the terminal.
void InstallConsoleMessages() {
  rt::InteractionHooks hooks;
  hooks.messageBox = [](const std::string& text, int, const std::string&) {
    std::string line = text;
    for (char& c : line) {
      if (c == '\r') c = ' ';
    }
    std::cerr << "ZrBunsyoRes: " << line << "\n";
    return rt::mb::AnswerOk;
  };
  rt::InstallInteraction(std::move(hooks));
}

}  // namespace

int RunProgram(const Request& request, int& argc, char** argv) {
  Console console{std::cin, std::cout, std::cerr, isatty(STDIN_FILENO) == 1, HasDisplay()};
  InstallSuiteWithoutWindows();
  std::unique_ptr<QCoreApplication> app;
  if (request.command == Command::Undo && !request.yes && !console.terminal && console.display) {
    app = std::make_unique<QApplication>(argc, argv);
    ui::InstallQtInteraction();
    ui::InstallJapaneseFontSubstitutes();
    QApplication::setFont(ui::WindowFont(9));
    ui::InstallQtTranslations();
  } else {
    // Desktop notifications talk D-Bus, which wants an application object.
    if (request.notify) app = std::make_unique<QCoreApplication>(argc, argv);
    InstallConsoleMessages();
  }
  return RunCommand(request, console);
}

}  // namespace zr::cli
