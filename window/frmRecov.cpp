#include "window/frmRecov.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <functional>
#include <memory>

#include "platform/runtime/FileSystem.h"
#include "platform/runtime/Interaction.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/Text.h"
#include "platform/ui/DesignLabel.h"
#include "platform/ui/DisplayPanel.h"
#include "platform/ui/FileListBox.h"
#include "platform/ui/JapaneseUi.h"
#include "startup/ComErr.h"
#include "startup/PathSeparator.h"
#include "startup/modZrBunsyoRes.h"
#include "suite/BackupLocation.h"
#include "suite/Components.h"
#include "suite/SuiteName.h"
#include "window/Presenters.h"
#include "window/UnhandledError.h"

namespace zr::window {
namespace {

constexpr const char* kToolName = "\u3000雛形（文書選択編集）ファイル復旧ツール";
constexpr const char* kDeviceMessage =
    "デバイスが準備されていないか、またはネットワーク接続が不正です。\r\n"
    "バックアップ場所がＭＯ・ＣＤ－Ｒ等の場合は装置にセットしてください。";

constexpr const char* kDataLocationFolder = "DataLocation";
constexpr const char* kConfirmation =
    "アセスメント、サービス計画、通所の「雛形（文書選択編集）データ」を復元します。よろしいですか？\r\n\r\n"
    "（現在の「雛形（文書選択編集）データ」はすべて上書きされます）";

void Warn(const char* text) { rt::MsgBox(text, rt::mb::OkOnly | rt::mb::Exclamation, suite::kSuiteName); }

// The restore engine's view of the window.
class FormPort : public RestoreWindow {
 public:
  explicit FormPort(frmRecov& form) : form_(form) {}
  int32_t hWnd() const override { return form_.hWnd(); }
  void SetEnabled(bool enabled) override { form_.SetEnabled(enabled); }
  std::string BkupPath() const override { return form_.MStrBkupPath; }

 private:
  frmRecov& form_;
};

constexpr int kTwipsPerPixel = 15;

// Positions and sizes as the design gives them, in twips.
struct Twips {
  int left, top, width, height;
};

consteval QRect Px(Twips t) {
  if (t.left % kTwipsPerPixel || t.top % kTwipsPerPixel || t.width % kTwipsPerPixel || t.height % kTwipsPerPixel) {
    throw "design value is not a whole pixel";
  }
  return QRect(t.left / kTwipsPerPixel, t.top / kTwipsPerPixel, t.width / kTwipsPerPixel, t.height / kTwipsPerPixel);
}

constexpr QSize kClientSize(8415 / kTwipsPerPixel, 5505 / kTwipsPerPixel);

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

QLabel* MakeLabel(QWidget* container, const char* name, const char* text, QRect where, qreal points,
                  const QColor& colour) {
  auto* label = new ui::DesignLabel(Q(text), container);
  label->setObjectName(Q(name));
  label->setGeometry(where);
  label->setFont(ui::WindowFont(points));
  label->setFocusPolicy(Qt::NoFocus);
  QPalette colours = label->palette();
  colours.setColor(QPalette::WindowText, colour);
  label->setPalette(colours);
  return label;
}

QPushButton* MakeButton(QWidget* container, const char* name, const char* text, QRect where) {
  auto* button = new QPushButton(Q(text), container);
  button->setObjectName(Q(name));
  button->setGeometry(where);
  button->setFont(ui::WindowFont(9));
  button->setFocusPolicy(Qt::StrongFocus);
  // Enter on the focused button presses it, as Space does; no button is the
  // window's Enter button.
  button->setAutoDefault(true);
  button->setDefault(false);
  return button;
}

// A handler that lets an error escape ends the program with the plain
// report, as an error nobody traps does; it must not unwind through Qt.
void Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    ReportUnhandledError(rt::CurrentError());
    rt::EndProgram(1);
  }
}

// The tool's icon in every size it ships.
QIcon ToolIcon() {
  QIcon icon;
  for (const char* file :
       {":/zr/window/icon-16.png", ":/zr/window/icon-32.png", ":/zr/window/icon-48.png", ":/zr/window/icon.png"}) {
    icon.addFile(QString::fromLatin1(file));
  }
  return icon;
}

}  // namespace

frmRecov::frmRecov(QWidget* parent) : QWidget(parent) { BuildDesign(); }

frmRecov::~frmRecov() = default;

void frmRecov::BuildDesign() {
  ui::InstallJapaneseFontSubstitutes();

  setObjectName(QStringLiteral("frmRecov"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(Q(suite::kSuiteName) + Q(kToolName));
  setWindowIcon(ToolIcon());
  setFont(ui::WindowFont(9));
  setFixedSize(kClientSize);

  const QColor red(255, 0, 0);
  const QColor blue(0, 0, 255);

  lblSetumei2_2_ = MakeLabel(this, "lblSetumei2(2)",
                             "バックアップファイルより、アセスメント、サービス計画書、通所の雛形（文書選択編集）"
                             "ファイルのみ抽出して復旧します。",
                             Px({360, 240, 7305, 465}), 12, red);

  fraData_ = new QGroupBox(this);
  fraData_->setObjectName(QStringLiteral("fraData"));
  fraData_->setGeometry(Px({150, 780, 8115, 4005}));
  fraData_->setFont(ui::WindowFont(9));
  fraData_->setFocusPolicy(Qt::NoFocus);
  fraData_->setAccessibleName(Q("バックアップの指定"));

  lblSetumei2_0_ =
      MakeLabel(fraData_, "lblSetumei2(0)", "バックアップ場所を指定してください。", Px({240, 240, 6825, 225}), 9, blue);

  sspPath_ = new ui::DisplayPanel(fraData_);
  sspPath_->setObjectName(QStringLiteral("sspPath"));
  sspPath_->setGeometry(Px({240, 480, 6915, 300}));
  sspPath_->setFont(ui::WindowFont(9));
  sspPath_->SetCaption("SSPanel1");
  sspPath_->setAccessibleDescription(Q("バックアップ場所"));

  cmdRefer_ = MakeButton(fraData_, "cmdRefer", "参照", Px({7200, 480, 615, 315}));

  lblSetumei2_1_ =
      MakeLabel(fraData_, "lblSetumei2(1)", "雛形（文書選択編集）をどのバックアップから復旧するか選択してください。",
                Px({240, 960, 7905, 225}), 9, blue);

  filBack_ = new ui::FileListBox(fraData_);
  filBack_->setObjectName(QStringLiteral("filBack"));
  filBack_->setGeometry(Px({210, 1200, 6975, 2625}));
  filBack_->setFont(ui::WindowFont(9.75));
  filBack_->setFocusPolicy(Qt::StrongFocus);
  filBack_->setAccessibleName(Q("バックアップファイル"));

  cmdSearch_ = MakeButton(fraData_, "cmdSearch", "検索", Px({7200, 1260, 615, 315}));
  cmdOK_ = MakeButton(this, "cmdOK", "実行", Px({4560, 4920, 1695, 495}));
  cmdSyuryou_ = MakeButton(this, "cmdSyuryou", "終了", Px({6570, 4920, 1695, 495}));

  WireControls();
  cmdRefer_->setFocus();
}

// The tab order, Esc as the close button, and each button's handler.
void frmRecov::WireControls() {
  setTabOrder(cmdRefer_, cmdSearch_);
  setTabOrder(cmdSearch_, filBack_);
  setTabOrder(filBack_, cmdOK_);
  setTabOrder(cmdOK_, cmdSyuryou_);
  setTabOrder(cmdSyuryou_, cmdRefer_);

  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setContext(Qt::WindowShortcut);
  connect(escape, &QShortcut::activated, cmdSyuryou_, &QPushButton::click);

  connect(cmdRefer_, &QPushButton::clicked, this, [this] { Guarded([this] { cmdRefer_Click(); }); });
  connect(cmdSearch_, &QPushButton::clicked, this, [this] { Guarded([this] { cmdSearch_Click(); }); });
  connect(cmdOK_, &QPushButton::clicked, this, [this] { Guarded([this] { cmdOK_Click(); }); });
  connect(cmdSyuryou_, &QPushButton::clicked, this, [this] { Guarded([this] { cmdSyuryou_Click(); }); });
}

void frmRecov::Show() {
  if (!loaded_) {
    loaded_ = true;
    Guarded([this] { Form_Load(); });
  }
  // With the native window in place the platform knows the frame, so the
  // whole window is centred and not only its client area.
  winId();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    const QSize outer = frameGeometry().size();
    move(area.x() + (area.width() - outer.width()) / 2, area.y() + (area.height() - outer.height()) / 2);
  }
  cmdRefer_->setFocus();
  show();
  raise();
  activateWindow();
}

int32_t frmRecov::hWnd() { return static_cast<int32_t>(winId()); }

void frmRecov::SetCaption(const std::string& caption) { setWindowTitle(QString::fromStdString(caption)); }

void frmRecov::Form_Load() {
  std::unique_ptr<suite::SuiteServices> services;
  std::string location;
  try {
    SetCaption(std::string(suite::kSuiteName) + kToolName);
    filBack_->SetPattern(suite::kArchivePattern);
    services = suite::CreateSuiteServices();
    std::string iniFile = "ZrX.ini";
    services->ReadIniValue("BKUP", "BKUP_PATH", iniFile, location);
    sspPath_->SetCaption(" " + location);
  } catch (...) {
    startup::TrapCurrentError("Form_Load");
    return;
  }

  // The stored location is used as written and its backup folder is not
  // looked for first; when it cannot be listed the list keeps its folder.
  try {
    if (!location.empty()) filBack_->SetPath(location + suite::kBackupFolder + startup::kSep);
  } catch (...) {
  }
}

void frmRecov::cmdRefer_Click() {
  std::unique_ptr<suite::SuiteServices> services;
  try {
    const int32_t owner = hWnd();
    const std::string current = rt::Trim(sspPath_->Caption());
    services = suite::CreateSuiteServices();
    std::string chosen;
    services->BrowseFolder(owner, "", current, chosen);
    if (chosen.empty()) return;
    if (chosen.back() != startup::kSepChar) chosen += startup::kSep;
    sspPath_->SetCaption(" " + chosen);
    cmdSearch_Click();
  } catch (...) {
    startup::TrapCurrentError("cmdRefer_Click");
  }
}

void frmRecov::cmdSearch_Click() {
  try {
    const std::string location = rt::Trim(sspPath_->Caption());
    filBack_->SetPath(location);
    const std::string backupFolder = location + suite::kBackupFolder + startup::kSep;
    if (rt::FolderExists(backupFolder)) filBack_->SetPath(backupFolder);
  } catch (...) {
    rt::MsgBox(kDeviceMessage, rt::mb::OkOnly | rt::mb::Exclamation, suite::kSuiteName);
  }
}

void frmRecov::cmdOK_Click() {
  try {
    std::string archiveName;

    MStrBkupPath = rt::Trim(sspPath_->Caption());
    if (MStrBkupPath.empty()) {
      Warn("バックアップ場所を指定してください。");
      return;
    }
    if (!startup::PBlnPathChk(MStrBkupPath)) {
      Warn("パス名が不正です。バックアップ場所が正しいか確認してください。");
      return;
    }
    // Both signs are read before either is judged, so a location that cannot
    // be reached is an error even when the list has entries.
    const int entries = filBack_->ListCount();
    const bool hasDataLocation = rt::FolderExists(MStrBkupPath + kDataLocationFolder + startup::kSep);
    if (!hasDataLocation && entries == 0) {
      Warn("バックアップデータが見つかりません。バックアップ場所を確認してください。");
      return;
    }
    const int selected = filBack_->ListIndex();
    if (entries > 0 && selected < 0) {
      Warn("リストアするファイルを選択してください。");
      return;
    }
    if (selected >= 0) {
      MStrBkupPath = filBack_->Path();
      archiveName = filBack_->List(selected);
    }
    if (!rt::EndsWith(MStrBkupPath, startup::kSep)) MStrBkupPath += startup::kSep;

    if (rt::MsgBox(kConfirmation, rt::mb::OkCancel | rt::mb::Exclamation, suite::kSuiteName) != rt::mb::AnswerOk)
      return;

    FormPort port(*this);
    if (!MBlnZrVerChk(port, archiveName)) return;
    MSubRestoreSyori(port, archiveName);
  } catch (...) {
    startup::TrapCurrentError("cmdOK_Click");
  }
}

void frmRecov::cmdSyuryou_Click() { close(); }

}  // namespace zr::window
