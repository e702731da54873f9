#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

class QGroupBox;
class QLabel;
class QPushButton;

namespace zr::ui {
class DisplayPanel;
class FileListBox;
}  // namespace zr::ui

namespace zr::window {

// The restore window: the backup location in sspPath, the archives of its
// backup folder in filBack, and the Browse, Search, Execute and Exit buttons.
// Child widgets carry the control names as object names; the indexed labels
// are "lblSetumei2(0)" to "lblSetumei2(2)".
class frmRecov : public QWidget {
  Q_OBJECT

 public:
  explicit frmRecov(QWidget* parent = nullptr);
  ~frmRecov() override;

  // Runs the load handling on the first call, then shows the window modeless,
  // centred on the screen, with the focus on cmdRefer.
  void Show();

  // The native handle that owns the suite's dialogs and extractions.
  int32_t hWnd();

  void SetCaption(const std::string& caption);
  bool Enabled() const { return isEnabled(); }
  // Disabled, the window takes no input but keeps showing what it showed
  // (as a disabled window does on the suite's home platform): repainting
  // every control greyed would cost the restore more than all its flushes.
  void SetEnabled(bool enabled) {
    if (!enabled) setUpdatesEnabled(false);
    setEnabled(enabled);
    if (enabled) setUpdatesEnabled(true);
  }

  ui::DisplayPanel& sspPath() { return *sspPath_; }
  ui::FileListBox& filBack() { return *filBack_; }

  // The folder that holds the chosen archive, ending in "/"; written by the
  // Execute command, read by the version check and the restore.
  std::string MStrBkupPath;

  // Event handlers, one per event the window reacts to.
  void Form_Load();
  void cmdRefer_Click();
  void cmdSearch_Click();
  void cmdOK_Click();
  void cmdSyuryou_Click();

 private:
  void BuildDesign();
  void WireControls();

  bool loaded_ = false;

  QLabel* lblSetumei2_2_ = nullptr;
  QGroupBox* fraData_ = nullptr;
  QLabel* lblSetumei2_0_ = nullptr;
  ui::DisplayPanel* sspPath_ = nullptr;
  QPushButton* cmdRefer_ = nullptr;
  QLabel* lblSetumei2_1_ = nullptr;
  ui::FileListBox* filBack_ = nullptr;
  QPushButton* cmdSearch_ = nullptr;
  QPushButton* cmdOK_ = nullptr;
  QPushButton* cmdSyuryou_ = nullptr;
};

}  // namespace zr::window
