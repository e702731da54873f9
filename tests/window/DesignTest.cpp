#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest/QTest>

#include "platform/ui/DisplayPanel.h"
#include "platform/ui/FileListBox.h"
#include "tests/support/FakeSuite.h"
#include "tests/support/ScriptedInteraction.h"
#include "window/frmRecov.h"

namespace zr::window {
namespace {

const QString kCaption = QString::fromUtf8("あおば！ナビ　雛形（文書選択編集）ファイル復旧ツール");
const QString kLabel0 = QString::fromUtf8("バックアップ場所を指定してください。");
const QString kLabel1 = QString::fromUtf8("雛形（文書選択編集）をどのバックアップから復旧するか選択してください。");
const QString kLabel2 = QString::fromUtf8(
    "バックアップファイルより、アセスメント、サービス計画書、通所の雛形（文書選択編集）ファイルのみ抽出して復旧します"
    "。");

struct Placement {
  const char* name;
  const char* container;
  int left, top, width, height;  // twips, from the container
  int windowLeft, windowTop;     // twips, from the window's client area
};

const Placement kPlacements[] = {
    {"lblSetumei2(2)", "frmRecov", 360, 240, 7305, 465, 360, 240},
    {"fraData", "frmRecov", 150, 780, 8115, 4005, 150, 780},
    {"lblSetumei2(0)", "fraData", 240, 240, 6825, 225, 390, 1020},
    {"sspPath", "fraData", 240, 480, 6915, 300, 390, 1260},
    {"cmdRefer", "fraData", 7200, 480, 615, 315, 7350, 1260},
    {"lblSetumei2(1)", "fraData", 240, 960, 7905, 225, 390, 1740},
    {"filBack", "fraData", 210, 1200, 6975, 2625, 360, 1980},
    {"cmdSearch", "fraData", 7200, 1260, 615, 315, 7350, 2040},
    {"cmdOK", "frmRecov", 4560, 4920, 1695, 495, 4560, 4920},
    {"cmdSyuryou", "frmRecov", 6570, 4920, 1695, 495, 6570, 4920},
};

class DesignTest : public ::testing::Test {
 protected:
  QWidget* Control(const char* name) {
    auto* widget = window.findChild<QWidget*>(QString::fromUtf8(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  // Shows the window and makes it the active one, as the window manager would.
  void ShowActive() {
    window.Show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(window.isActiveWindow());
  }

  QString FocusName() const {
    return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
  }

  test::FakeSuiteScope suite;
  test::ScriptedInteraction ui;
  frmRecov window;
};

TEST_F(DesignTest, EveryControlStandsWhereTheDesignPutsIt) {
  for (const auto& p : kPlacements) {
    QWidget* widget = Control(p.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromUtf8(p.container)) << p.name;
    EXPECT_EQ(widget->geometry(), QRect(p.left / 15, p.top / 15, p.width / 15, p.height / 15)) << p.name;
    EXPECT_EQ(widget->mapTo(&window, QPoint(0, 0)), QPoint(p.windowLeft / 15, p.windowTop / 15)) << p.name;
    EXPECT_TRUE(widget->isVisibleTo(&window)) << p.name;
  }
}

TEST_F(DesignTest, ControlsAreOfTheirKindWithTheirTexts) {
  EXPECT_EQ(qobject_cast<QPushButton*>(Control("cmdRefer"))->text(), QString::fromUtf8("参照"));
  EXPECT_EQ(qobject_cast<QPushButton*>(Control("cmdSearch"))->text(), QString::fromUtf8("検索"));
  EXPECT_EQ(qobject_cast<QPushButton*>(Control("cmdOK"))->text(), QString::fromUtf8("実行"));
  EXPECT_EQ(qobject_cast<QPushButton*>(Control("cmdSyuryou"))->text(), QString::fromUtf8("終了"));
  EXPECT_EQ(qobject_cast<QLabel*>(Control("lblSetumei2(0)"))->text(), kLabel0);
  EXPECT_EQ(qobject_cast<QLabel*>(Control("lblSetumei2(1)"))->text(), kLabel1);
  EXPECT_EQ(qobject_cast<QLabel*>(Control("lblSetumei2(2)"))->text(), kLabel2);
  EXPECT_EQ(qobject_cast<QGroupBox*>(Control("fraData"))->title(), QString());
  ASSERT_NE(qobject_cast<ui::FileListBox*>(Control("filBack")), nullptr);
  ASSERT_NE(qobject_cast<ui::DisplayPanel*>(Control("sspPath")), nullptr);
  EXPECT_EQ(window.sspPath().Caption(), "SSPanel1");
  EXPECT_EQ(window.MStrBkupPath, "");
  for (const char* name : {"cmdRefer", "cmdSearch", "cmdOK", "cmdSyuryou"}) {
    EXPECT_FALSE(qobject_cast<QPushButton*>(Control(name))->isDefault()) << name;
  }
}

TEST_F(DesignTest, TheWindowHasAFixedSizeACloseBoxAndItsOwnIcon) {
  EXPECT_EQ(window.objectName(), "frmRecov");
  EXPECT_EQ(window.windowTitle(), kCaption);
  EXPECT_EQ(window.size(), QSize(561, 367));
  EXPECT_EQ(window.minimumSize(), QSize(561, 367));
  EXPECT_EQ(window.maximumSize(), QSize(561, 367));
  const Qt::WindowFlags flags = window.windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::Window));
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
  EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(window.parentWidget(), nullptr);

  const QIcon icon = window.windowIcon();
  ASSERT_FALSE(icon.isNull());
  for (int size : {16, 32, 48}) EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
}

TEST_F(DesignTest, FontsAreTheGothicAtTheirSizes) {
  const std::pair<const char*, qreal> sizes[] = {
      {"lblSetumei2(2)", 12}, {"lblSetumei2(0)", 9}, {"lblSetumei2(1)", 9}, {"filBack", 9.75}, {"sspPath", 9},
      {"cmdOK", 9},           {"cmdSyuryou", 9},     {"cmdRefer", 9},       {"cmdSearch", 9},  {"fraData", 9},
  };
  for (const auto& [name, points] : sizes) {
    const QFont font = Control(name)->font();
    EXPECT_EQ(font.family(), QString::fromUtf8("ＭＳ Ｐゴシック")) << name;
    EXPECT_DOUBLE_EQ(font.pointSizeF(), points) << name;
    EXPECT_EQ(font.weight(), QFont::Normal) << name;
    EXPECT_FALSE(font.italic()) << name;
  }
  EXPECT_DOUBLE_EQ(window.font().pointSizeF(), 9);
}

TEST_F(DesignTest, LabelsAreRedAndBlueOnTheirContainersFace) {
  EXPECT_EQ(Control("lblSetumei2(2)")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(Control("lblSetumei2(0)")->palette().color(QPalette::WindowText), QColor(0, 0, 255));
  EXPECT_EQ(Control("lblSetumei2(1)")->palette().color(QPalette::WindowText), QColor(0, 0, 255));
  for (const char* name : {"lblSetumei2(0)", "lblSetumei2(1)", "lblSetumei2(2)"}) {
    auto* label = qobject_cast<QLabel*>(Control(name));
    EXPECT_FALSE(label->autoFillBackground()) << name;
    EXPECT_EQ(label->frameShape(), QFrame::NoFrame) << name;
    EXPECT_TRUE(label->alignment().testFlag(Qt::AlignLeft)) << name;
    EXPECT_TRUE(label->wordWrap()) << name;
  }
}

int Distance(const QColor& a, const QColor& b) {
  const int r = a.red() - b.red(), g = a.green() - b.green(), bl = a.blue() - b.blue();
  return r * r + g * g + bl * bl;
}

// The bands of rows that hold ink when the label is drawn at `height`, as
// [first, last] pairs. A pixel is ink when it is nearer the text colour than
// the background, so the faint edges of smoothed glyphs do not count.
std::vector<std::pair<int, int>> InkBands(QLabel& label, int height) {
  const QSize designed = label.size();
  label.resize(designed.width(), height);
  const QImage image = label.grab().toImage();
  label.resize(designed);
  const QColor background = label.palette().color(QPalette::Window);
  const QColor text = label.palette().color(QPalette::WindowText);
  std::vector<std::pair<int, int>> bands;
  for (int y = 0; y < image.height(); ++y) {
    bool ink = false;
    for (int x = 0; x < image.width() && !ink; ++x) {
      const QColor pixel = image.pixelColor(x, y);
      ink = Distance(pixel, text) < Distance(pixel, background);
    }
    if (!ink) continue;
    if (!bands.empty() && bands.back().second == y - 1) {
      bands.back().second = y;
    } else {
      bands.emplace_back(y, y);
    }
  }
  return bands;
}

TEST_F(DesignTest, TheRedLabelShowsTwoWholeLinesAndTheBlueOnesOne) {
  for (const auto& [name, lines] :
       {std::pair{"lblSetumei2(2)", 2}, std::pair{"lblSetumei2(0)", 1}, std::pair{"lblSetumei2(1)", 1}}) {
    auto& label = *qobject_cast<QLabel*>(Control(name));
    const int height = label.height();
    const auto designed = InkBands(label, height);
    // Drawn with room to spare, nothing appears below the designed height:
    // the designed size clips nothing.
    const auto roomy = InkBands(label, height * 3);
    EXPECT_EQ(designed.size(), static_cast<std::size_t>(lines)) << name;
    ASSERT_EQ(roomy.size(), static_cast<std::size_t>(lines)) << name;
    EXPECT_LT(roomy.back().second, height) << name;
    EXPECT_EQ(designed, roomy) << name;
  }
}

TEST_F(DesignTest, ThePathPanelIsASunkenDisplayFieldOnPaleYellow) {
  auto& panel = window.sspPath();
  EXPECT_EQ(panel.palette().color(QPalette::Window), QColor(252, 251, 211));
  EXPECT_TRUE(panel.autoFillBackground());
  EXPECT_EQ(panel.frameShape(), QFrame::Panel);
  EXPECT_EQ(panel.frameShadow(), QFrame::Sunken);
  EXPECT_FALSE(panel.wordWrap());
  EXPECT_EQ(panel.textInteractionFlags(), Qt::NoTextInteraction);
  EXPECT_EQ(panel.focusPolicy(), Qt::NoFocus);

  panel.SetCaption(" /mnt/BK/\nsecond");
  EXPECT_EQ(panel.Caption(), " /mnt/BK/\nsecond");
  EXPECT_EQ(panel.text(), QString::fromUtf8(" /mnt/BK/ second"));
}

TEST_F(DesignTest, FocusStartsOnReferAndTabCyclesThroughTheFiveControls) {
  for (const char* name : {"lblSetumei2(0)", "lblSetumei2(1)", "lblSetumei2(2)", "fraData", "sspPath"}) {
    EXPECT_EQ(Control(name)->focusPolicy(), Qt::NoFocus) << name;
  }
  ShowActive();
  EXPECT_EQ(FocusName(), "cmdRefer");

  QStringList forward;
  for (int i = 0; i < 5; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    forward << FocusName();
  }
  EXPECT_EQ(forward, (QStringList{"cmdSearch", "filBack", "cmdOK", "cmdSyuryou", "cmdRefer"}));

  QStringList backward;
  for (int i = 0; i < 5; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    backward << FocusName();
  }
  EXPECT_EQ(backward, (QStringList{"cmdSyuryou", "cmdOK", "filBack", "cmdSearch", "cmdRefer"}));
}

TEST_F(DesignTest, EscapePressesExitWhichClosesTheWindow) {
  ShowActive();
  auto* exit = qobject_cast<QPushButton*>(Control("cmdSyuryou"));
  QSignalSpy pressed(exit, &QPushButton::clicked);
  window.findChild<QWidget*>("filBack")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_EQ(pressed.count(), 1);
  EXPECT_FALSE(window.isVisible());
}

TEST_F(DesignTest, AFocusedButtonIsPressedByEnterOrSpaceButNoButtonOwnsEnter) {
  ShowActive();
  std::map<QString, std::unique_ptr<QSignalSpy>> pressed;
  for (const char* name : {"cmdRefer", "cmdSearch", "cmdOK", "cmdSyuryou"}) {
    pressed[name] = std::make_unique<QSignalSpy>(qobject_cast<QPushButton*>(Control(name)), &QPushButton::clicked);
  }
  window.findChild<QWidget*>("filBack")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  for (const auto& [name, spy] : pressed) EXPECT_EQ(spy->count(), 0) << name.toStdString();

  // The panel is empty, so each press of Execute ends at its first refusal.
  ui.Answer(rt::mb::AnswerOk);
  ui.Answer(rt::mb::AnswerOk);
  Control("cmdOK")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  EXPECT_EQ(pressed["cmdOK"]->count(), 2);
  EXPECT_EQ(pressed["cmdSyuryou"]->count(), 0);
  EXPECT_TRUE(window.isVisible());
}

TEST_F(DesignTest, TheWindowOpensCentredOnTheScreen) {
  window.Show();
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  const QRect frame = window.frameGeometry();
  const int left = frame.left() - area.left(), right = area.right() - frame.right();
  const int top = frame.top() - area.top(), bottom = area.bottom() - frame.bottom();
  EXPECT_GT(left, 0);
  EXPECT_GT(top, 0);
  EXPECT_LE(std::abs(left - right), 1) << left << " " << right;
  EXPECT_LE(std::abs(top - bottom), 1) << top << " " << bottom;
}

TEST_F(DesignTest, AccessibilityToolsReadEveryControlsText) {
  const std::pair<const char*, QString> names[] = {
      {"cmdRefer", QString::fromUtf8("参照")},
      {"cmdSearch", QString::fromUtf8("検索")},
      {"cmdOK", QString::fromUtf8("実行")},
      {"cmdSyuryou", QString::fromUtf8("終了")},
      {"lblSetumei2(0)", kLabel0},
      {"lblSetumei2(1)", kLabel1},
      {"lblSetumei2(2)", kLabel2},
      {"sspPath", QStringLiteral("SSPanel1")},
      {"filBack", QString::fromUtf8("バックアップファイル")},
      {"fraData", QString::fromUtf8("バックアップの指定")},
  };
  for (const auto& [name, text] : names) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(Control(name));
    ASSERT_NE(accessible, nullptr) << name;
    EXPECT_EQ(accessible->text(QAccessible::Name), text) << name;
  }
  window.sspPath().SetCaption(" /mnt/BK/");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(Control("sspPath"))->text(QAccessible::Name),
            QStringLiteral(" /mnt/BK/"));
  EXPECT_EQ(QAccessible::queryAccessibleInterface(&window)->text(QAccessible::Name), kCaption);
}

TEST_F(DesignTest, TheRestoreCanDisableTheWindowAndOwnDialogsByItsHandle) {
  window.SetEnabled(false);
  EXPECT_FALSE(window.Enabled());
  EXPECT_FALSE(Control("cmdOK")->isEnabled());
  window.SetEnabled(true);
  EXPECT_TRUE(Control("cmdOK")->isEnabled());

  const int32_t handle = window.hWnd();
  EXPECT_NE(handle, 0);
  EXPECT_EQ(window.hWnd(), handle);
  EXPECT_EQ(QWidget::find(static_cast<WId>(static_cast<uint32_t>(handle))), &window);
}

}  // namespace
}  // namespace zr::window
