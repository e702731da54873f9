#include "platform/ui/QtMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <optional>
#include <utility>

#include "platform/runtime/Interaction.h"

namespace zr::ui {

namespace mb = rt::mb;

namespace {

// The box PrepareMessageBox asked for, and once built, the box itself:
// owned by its parent window, or deleted here when it is not the one shown.
struct PreparedBox {
  std::string text;
  int style = 0;
  std::string title;
  QPointer<QWidget> parent;
  QPointer<QMessageBox> box;
};
// Never destroyed: a box must not outlive the application in a static.
std::optional<PreparedBox>& Prepared() {
  static auto* prepared = new std::optional<PreparedBox>();
  return *prepared;
}

void Discard(std::optional<PreparedBox>& taken) {
  if (taken && taken->box) taken->box->deleteLater();
  taken.reset();
}

std::unique_ptr<QMessageBox> TakePrepared(QWidget* parent, const std::string& text, int style,
                                          const std::string& title) {
  std::optional<PreparedBox> taken = std::exchange(Prepared(), std::nullopt);
  if (!taken || !taken->box || taken->parent != parent || taken->text != text || taken->style != style ||
      taken->title != title) {
    Discard(taken);
    return nullptr;
  }
  return std::unique_ptr<QMessageBox>(taken->box.data());
}

}  // namespace

QString ToDisplayLines(const std::string& text) {
  QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QChar('\r'), QChar('\n'));
  return shown;
}

std::unique_ptr<QMessageBox> BuildMessageBox(QWidget* parent, const std::string& text, int style,
                                             const std::string& title) {
  auto box = std::make_unique<QMessageBox>(parent);
  box->setWindowTitle(QString::fromStdString(title));
  // Descriptions come from file names and archives: never read them as markup.
  box->setTextFormat(Qt::PlainText);
  box->setText(ToDisplayLines(text));

  switch (style & mb::IconMask) {
    case mb::Critical:
      box->setIcon(QMessageBox::Critical);
      break;
    case mb::Exclamation:
      box->setIcon(QMessageBox::Warning);
      break;
    case mb::Information:
      box->setIcon(QMessageBox::Information);
      break;
    default:
      box->setIcon(QMessageBox::NoIcon);
      break;
  }

  QPushButton* first = nullptr;
  QPushButton* second = nullptr;
  switch (style & mb::ButtonMask) {
    case mb::OkCancel:
      first = box->addButton(QMessageBox::Ok);
      second = box->addButton(QMessageBox::Cancel);
      box->setEscapeButton(second);
      break;
    case mb::YesNo:
      first = box->addButton(QMessageBox::Yes);
      second = box->addButton(QMessageBox::No);
      box->setEscapeButton(second);
      break;
    default:
      first = box->addButton(QMessageBox::Ok);
      box->setEscapeButton(first);
      break;
  }
  box->setDefaultButton((style & mb::DefaultButton2) && second ? second : first);
  return box;
}

int AnswerOf(const QMessageBox& box, int style) {
  switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok:
      return mb::AnswerOk;
    case QMessageBox::Cancel:
      return mb::AnswerCancel;
    case QMessageBox::Yes:
      return mb::AnswerYes;
    case QMessageBox::No:
      return mb::AnswerNo;
    default:
      break;
  }
  // Closed without a button (window manager): the escape answer.
  switch (style & mb::ButtonMask) {
    case mb::OkCancel:
      return mb::AnswerCancel;
    case mb::YesNo:
      return mb::AnswerNo;
    default:
      return mb::AnswerOk;
  }
}

void PrepareMessageBox(const std::string& text, int style, const std::string& title) {
  Discard(Prepared());
  Prepared() = PreparedBox{text, style, title, nullptr, nullptr};
}

void BuildPreparedMessageBox() {
  std::optional<PreparedBox>& prepared = Prepared();
  if (!prepared || prepared->box) return;
  prepared->parent = QApplication::activeWindow();
  QMessageBox* box = BuildMessageBox(prepared->parent, prepared->text, prepared->style, prepared->title).release();
  prepared->box = box;
  // The native window, the style's polish and the glyphs of the text are
  // what a first show would otherwise wait for.
  box->winId();
  box->ensurePolished();
  // The box sizes itself to its text when shown; a show event sent ahead
  // does that measuring now.
  QShowEvent measure;
  QApplication::sendEvent(box, &measure);
  (void)box->grab();
}

int ShowMessageBox(QWidget* parent, const std::string& text, int style, const std::string& title) {
  auto box = TakePrepared(parent, text, style, title);
  if (!box) box = BuildMessageBox(parent, text, style, title);
  box->exec();
  return AnswerOf(*box, style);
}

}  // namespace zr::ui
