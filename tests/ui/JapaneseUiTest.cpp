#include "platform/ui/JapaneseUi.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QMessageBox>
#include <QPushButton>

#include "tests/support/TempDir.h"

namespace zr::ui {
namespace {

// Every text the window shows, in one string.
const char* const kWindowTexts =
    "あおば！ナビ　雛形（文書選択編集）ファイル復旧ツール"
    "バックアップファイルより、アセスメント、サービス計画書、通所の雛形（文書選択編集）ファイルのみ抽出して復旧します。"
    "バックアップ場所を指定してください。雛形（文書選択編集）をどのバックアップから復旧するか選択してください。"
    "参照検索実行終了"
    "デバイスが準備されていないか、またはネットワーク接続が不正です。"
    "バックアップ場所がＭＯ・ＣＤ－Ｒ等の場合は装置にセットしてください。";

TEST(JapaneseUiTest, TheWindowFontFindsAnInstalledJapaneseGothic) {
  InstallJapaneseFontSubstitutes();
  const QFont font = WindowFont(9);
  EXPECT_EQ(font.family(), QString::fromUtf8("ＭＳ Ｐゴシック"));
  EXPECT_EQ(font.weight(), QFont::Normal);

  const QString resolved = QFontInfo(font).family();
  EXPECT_TRUE(QFont::substitutes(font.family()).contains(resolved, Qt::CaseInsensitive)) << resolved.toStdString();
  EXPECT_TRUE(QFontDatabase::writingSystems(resolved).contains(QFontDatabase::Japanese)) << resolved.toStdString();

  // Every character is drawn by the gothic itself, not by a fallback or as a box.
  const QFontMetrics metrics(font);
  const QString texts = QString::fromUtf8(kWindowTexts);
  for (char32_t ch : texts.toUcs4()) {
    EXPECT_TRUE(metrics.inFontUcs4(ch)) << "U+" << std::hex << static_cast<unsigned>(ch);
  }
}

TEST(JapaneseUiTest, QtsOwnDialogsSpeakJapaneseOnceTheTranslationsAreIn) {
  ASSERT_TRUE(InstallQtTranslations()) << "qtbase_ja.qm is missing: install qt6-translations-l10n";
  EXPECT_EQ(QLocale().language(), QLocale::Japanese);

  QMessageBox box;
  EXPECT_EQ(box.addButton(QMessageBox::Cancel)->text(), QString::fromUtf8("キャンセル"));
  EXPECT_EQ(box.addButton(QMessageBox::Yes)->text(), QString::fromUtf8("はい(&Y)"));

  QFileDialog picker;
  picker.setOption(QFileDialog::DontUseNativeDialog);
  picker.setFileMode(QFileDialog::Directory);
  QStringList texts;
  for (auto* buttons : picker.findChildren<QDialogButtonBox*>()) {
    for (QAbstractButton* button : buttons->buttons()) texts << button->text();
  }
  EXPECT_EQ(texts, (QStringList{QString::fromUtf8("選択(&C)"), QString::fromUtf8("キャンセル")}));
}

TEST(JapaneseUiTest, AMissingCatalogueLeavesQtsTextsAsTheyWere) {
  test::TempDir empty;
  const QString before = QMessageBox().addButton(QMessageBox::Cancel)->text();
  EXPECT_FALSE(InstallQtTranslations(QString::fromStdString(empty.path().string())));
  EXPECT_EQ(QMessageBox().addButton(QMessageBox::Cancel)->text(), before);
}

}  // namespace
}  // namespace zr::ui
