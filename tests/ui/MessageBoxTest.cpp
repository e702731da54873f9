#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>

#include "platform/runtime/Interaction.h"
#include "platform/ui/QtMessageBox.h"

namespace zr::ui {
namespace {

namespace mb = rt::mb;

struct KeyCase {
  int style;
  Qt::Key key;
  int answer;
};

// Presses one key on a shown box and returns the answer it gives.
int AnswerAfterKey(int style, Qt::Key key) {
  auto box = BuildMessageBox(nullptr, "本文", style, "あおば！ナビ");
  box->show();
  QTest::keyClick(box.get(), key);
  EXPECT_FALSE(box->isVisible()) << "style " << style << " key " << key << " left the box open";
  return AnswerOf(*box, style);
}

TEST(MessageBoxTest, EnterGivesTheDefaultAnswerOfEachStyle) {
  const KeyCase cases[] = {
      {mb::OkOnly | mb::Exclamation, Qt::Key_Return, mb::AnswerOk},
      {mb::OkOnly | mb::Critical, Qt::Key_Enter, mb::AnswerOk},
      {mb::OkOnly | mb::Information, Qt::Key_Return, mb::AnswerOk},
      {mb::OkCancel | mb::Exclamation, Qt::Key_Return, mb::AnswerOk},
      {mb::OkCancel | mb::Exclamation | mb::DefaultButton2, Qt::Key_Return, mb::AnswerCancel},
      {mb::YesNo | mb::Critical, Qt::Key_Return, mb::AnswerYes},
      {mb::YesNo | mb::Critical | mb::DefaultButton2, Qt::Key_Enter, mb::AnswerNo},
  };
  for (const auto& c : cases) EXPECT_EQ(AnswerAfterKey(c.style, c.key), c.answer) << "style " << c.style;
}

TEST(MessageBoxTest, EscapeAnswersCancelOrNoAndAnOkOnlyBoxAsOk) {
  EXPECT_EQ(AnswerAfterKey(mb::OkCancel | mb::Exclamation, Qt::Key_Escape), mb::AnswerCancel);
  EXPECT_EQ(AnswerAfterKey(mb::YesNo | mb::Critical, Qt::Key_Escape), mb::AnswerNo);
  EXPECT_EQ(AnswerAfterKey(mb::OkOnly | mb::Exclamation, Qt::Key_Escape), mb::AnswerOk);
}

TEST(MessageBoxTest, EachStyleHasItsIconButtonsAndDefault) {
  auto trap = BuildMessageBox(nullptr, "x", mb::YesNo | mb::Critical, "警告メッセージ");
  EXPECT_EQ(trap->icon(), QMessageBox::Critical);
  EXPECT_EQ(trap->standardButtons(), QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(trap->defaultButton(), trap->button(QMessageBox::Yes));
  EXPECT_EQ(trap->escapeButton(), trap->button(QMessageBox::No));
  EXPECT_EQ(trap->windowTitle(), QString::fromUtf8("警告メッセージ"));

  auto confirm = BuildMessageBox(nullptr, "x", mb::OkCancel | mb::Exclamation, "あおば！ナビ");
  EXPECT_EQ(confirm->icon(), QMessageBox::Warning);
  EXPECT_EQ(confirm->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(confirm->defaultButton(), confirm->button(QMessageBox::Ok));

  auto done = BuildMessageBox(nullptr, "x", mb::OkOnly | mb::Information, "あおば！ナビ");
  EXPECT_EQ(done->icon(), QMessageBox::Information);
  EXPECT_EQ(done->standardButtons(), QMessageBox::Ok);
}

TEST(MessageBoxTest, TextIsPlainAndKeepsItsEmptyLines) {
  auto box = BuildMessageBox(nullptr, "一行目\r\r<b>二行目</b>\r\n三行目", mb::OkOnly, "t");
  EXPECT_EQ(box->textFormat(), Qt::PlainText);
  EXPECT_EQ(box->text(), QString::fromUtf8("一行目\n\n<b>二行目</b>\n三行目"));
}

TEST(MessageBoxTest, ClosingWithoutAButtonGivesTheCautiousAnswer) {
  for (const auto& [style, answer] : {std::pair{mb::OkOnly, mb::AnswerOk}, std::pair{mb::OkCancel, mb::AnswerCancel},
                                      std::pair{mb::YesNo | mb::Critical, mb::AnswerNo}}) {
    auto box = BuildMessageBox(nullptr, "x", style, "t");
    EXPECT_EQ(AnswerOf(*box, style), answer) << style;
  }
}

// Qt's own button texts come from its translations; the tool loads the
// Japanese ones whatever the locale, so a process under a plain C locale
// must show them too.
TEST(MessageBoxTest, StandardButtonsAndThePickerSpeakJapaneseUnderAPlainCLocale) {
  QProcess probe;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"LANG", "LANGUAGE", "LC_MESSAGES", "LC_CTYPE"}) env.remove(QString::fromLatin1(name));
  env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  probe.setProcessEnvironment(env);
  probe.start(QStringLiteral(ZR_UI_TEXT_PROBE), {});
  ASSERT_TRUE(probe.waitForFinished(60000)) << "probe did not finish";
  ASSERT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().toStdString();

  const QStringList lines = QString::fromUtf8(probe.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
  const QStringList expected{
      QString::fromUtf8("translations=1"),
      QString::fromUtf8("0: OK* | esc=OK"),
      QString::fromUtf8("1: OK* キャンセル | esc=キャンセル"),
      QString::fromUtf8("4: はい(&Y)* いいえ(&N) | esc=いいえ(&N)"),
      QString::fromUtf8("20: はい(&Y)* いいえ(&N) | esc=いいえ(&N)"),
      QString::fromUtf8("49: OK* キャンセル | esc=キャンセル"),
      QString::fromUtf8("picker: ディレクトリの検索 | 選択(&C) キャンセル"),
  };
  EXPECT_EQ(lines, expected) << lines.join('\n').toStdString();
}

// A box made ahead is shown only when it is exactly the one asked for;
// anything else gets a box of its own with its own text and buttons.
TEST(MessageBoxTest, APreparedBoxIsShownOnlyForTheSameRequest) {
  struct Shown {
    QString text;
    int buttons = 0;
    QMessageBox* box = nullptr;
  };
  auto showAndAnswer = [](const std::string& text, int style) {
    Shown seen;
    QTimer::singleShot(0, [&seen] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(nullptr, box);
      seen = {box->text(), static_cast<int>(box->buttons().size()), box};
      QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_EQ(mb::AnswerOk, ShowMessageBox(nullptr, text, style, "あおば！ナビ"));
    return seen;
  };

  PrepareMessageBox("前もって作る知らせ", mb::OkOnly | mb::Information, "あおば！ナビ");
  BuildPreparedMessageBox();
  const Shown other = showAndAnswer("別の知らせ", mb::OkCancel | mb::Exclamation);
  EXPECT_EQ(QStringLiteral("別の知らせ"), other.text);
  EXPECT_EQ(2, other.buttons);

  PrepareMessageBox("完了しました。", mb::OkOnly | mb::Information, "あおば！ナビ");
  BuildPreparedMessageBox();
  QMessageBox* made = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (box != nullptr && box->text() == QStringLiteral("完了しました。")) made = box;
  }
  ASSERT_NE(nullptr, made);
  const Shown same = showAndAnswer("完了しました。", mb::OkOnly | mb::Information);
  EXPECT_EQ(QStringLiteral("完了しました。"), same.text);
  EXPECT_EQ(1, same.buttons);
  EXPECT_EQ(made, same.box) << "the prepared box itself";
}

}  // namespace
}  // namespace zr::ui
