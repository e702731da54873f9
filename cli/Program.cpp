#include "cli/Program.h"

#include <unistd.h>

#include <QApplication>
#include <iostream>
#include <memory>

#include "cli/Commands.h"
#include "platform/runtime/Interaction.h"
#include "platform/ui/DisplayProbe.h"
#include "platform/ui/JapaneseUi.h"
#include "platform/ui/QtInteraction.h"
#include "suite/Components.h"
#include "suite/local/DataFolderRecovery.h"
#include "suite/local/LocalStartGate.h"
#include "suite/local/LocalSuiteServices.h"

namespace zr::cli {
namespace {

void InstallSuiteWithoutWindows() {
  suite::ComponentFactory factory;
  factory.suiteServices = [] { return std::make_unique<suite::LocalSuiteServices>(); };
  factory.startGate = [] { return std::make_unique<suite::LocalStartGate>(); };
  // The templates are decoded while the version check reads its database,
  // as in the window.
  factory.beginExtractionAhead = suite::BeginLocalExtractionAhead;
  factory.dropExtractionAhead = suite::DropLocalExtractionAhead;
  suite::InstallComponentFactory(std::move(factory));
  suite::InstallRecoveryLog();
  suite::InstallRecordKey();
}

// Messages the suite's components show (the start gate names a running
// program) go to the terminal.
void InstallConsoleMessages() {
  rt::InteractionHooks hooks;
  hooks.messageBox = [](const std::string& text, int, const std::string&) {
    std::string line = text;
    for (char& c : line) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    std::cerr << "ZrBunsyoRes: " << Shown(line, false) << "\n";
    return rt::mb::AnswerOk;
  };
  rt::InstallInteraction(std::move(hooks));
}

}  // namespace

int RunProgram(const Request& request, int& argc, char** argv) {
  const bool terminal = isatty(STDIN_FILENO) == 1;
  // Only an undo that must ask, with no terminal to ask on, uses the desktop;
  // when no display server answers it keeps to the terminal's rules.
  const bool display = request.command == Command::Undo && !request.yes && !terminal && ui::DisplayAnswers(argc, argv);
  Console console{std::cin, std::cout, std::cerr, terminal, display, isatty(STDERR_FILENO) == 1};
  InstallSuiteWithoutWindows();
  std::unique_ptr<QCoreApplication> app;
  if (display) {
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
