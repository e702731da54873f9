// Shows one of the tool's message boxes on its own, for screenshots and for
// trying the keyboard: zr_msgbox STYLE TEXT [TITLE]. In TEXT the sequences
// "\r" and "\n" stand for CR and LF. Prints the answer number.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/runtime/Interaction.h"
#include "platform/runtime/Locale.h"
#include "platform/ui/JapaneseUi.h"
#include "platform/ui/QtInteraction.h"
#include "suite/SuiteName.h"

namespace {

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'r' || text[i + 1] == 'n')) {
      out += text[i + 1] == 'r' ? '\r' : '\n';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  zr::rt::EnsureUtf8Locale();
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s STYLE TEXT [TITLE]\n", argv[0]);
    return 2;
  }
  zr::ui::InstallQtInteraction();
  zr::ui::InstallJapaneseFontSubstitutes();
  zr::ui::InstallQtTranslations();
  QApplication::setFont(zr::ui::WindowFont(9));

  const int style = std::atoi(argv[1]);
  const std::string title = argc > 3 ? argv[3] : zr::suite::kSuiteName;
  std::printf("%d\n", zr::rt::MsgBox(Unescape(argv[2]), style, title));
  return 0;
}
