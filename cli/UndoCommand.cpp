#include <istream>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "cli/Commands.h"
#include "platform/runtime/Interaction.h"
#include "platform/runtime/RuntimeError.h"
#include "restore/History.h"
#include "restore/TemplateRestore.h"
#include "restore/Undo.h"
#include "restore/VersionCheck.h"
#include "startup/modZrBunsyoRes.h"
#include "suite/Components.h"
#include "suite/SuiteName.h"

namespace zr::cli {
namespace {

// The undo itself, once the start rules have let it run.
class UndoRun {
 public:
  UndoRun(bool yes, Console& console, std::string entry) : yes_(yes), console_(console), entry_(std::move(entry)) {}

  int Status() {
    try {
      return Run();
    } catch (const rt::RuntimeError& e) {
      Tell("実行時エラー " + std::to_string(e.number()) + ": " + Shown(e.description(), false), rt::mb::Critical);
      return kExitFailed;
    }
  }

 private:
  // On a terminal the answer is y or n; without one, a message box.
  bool Confirmed(const std::string& what, const std::string& question) {
    if (yes_ || console_.terminal || !console_.display) {
      return Asked(console_, yes_, what, question, "確認なしで戻すには --yes を指定してください。");
    }
    {
      return rt::MsgBox(what + "\r\n" + question, rt::mb::OkCancel | rt::mb::Exclamation, suite::kSuiteName) ==
             rt::mb::AnswerOk;
    }
  }

  // The outcome on the terminal; without one, also in a box, unless the
  // caller said --yes and so expects to wait for nobody.
  void Tell(const std::string& text, int icon) {
    if (icon == rt::mb::Information) {
      console_.out << text << "\n";
    } else {
      console_.err << "ZrBunsyoRes: " << text << "\n";
    }
    if (!console_.terminal && console_.display && !yes_) rt::MsgBox(text, rt::mb::OkOnly | icon, suite::kSuiteName);
  }

  // The entry asked for, or the newest; null, having said why, when there is none.
  const restore::HistoryEntry* Chosen(const std::vector<restore::HistoryEntry>& entries) {
    if (entry_.empty()) {
      if (entries.empty()) Tell("元に戻せる復旧の履歴がありません。", rt::mb::Exclamation);
      return entries.empty() ? nullptr : &entries.front();
    }
    for (const restore::HistoryEntry& entry : entries) {
      if (entry.folder.filename() == entry_) return &entry;
    }
    const std::string label = entry_.find('-') == std::string::npos ? std::to_string(std::stoull(entry_)) : entry_;
    Tell("番号 " + Shown(label) + " の履歴はありません。「ZrBunsyoRes --history」で番号を確かめてください。",
         rt::mb::Exclamation);
    return nullptr;
  }

  // Names the entry that cannot be taken back and the way to the others.
  static std::string OtherEntries(const restore::HistoryEntry& entry) {
    const std::string when = entry.time.empty() ? " " : "（" + Shown(entry.time) + "）";
    return "戻せないのは番号 " + Shown(restore::EntryLabel(entry)) + when +
           "の履歴です。ほかの履歴から戻すには「ZrBunsyoRes --history」で番号を確かめ、「ZrBunsyoRes --undo "
           "番号」を実行してください。";
  }

  int Run() {
    auto services = suite::CreateSuiteServices();
    std::string section = "COMMON";
    std::string key = "Ver";
    std::string installed;
    services->ReadSetting(section, key, installed);
    if (installed != restore::kRequiredSuiteVersion) {
      Tell(std::string("「あおば!ナビ」のバージョンが") + restore::kRequiredSuiteVersion + "の場合のみ元に戻せます。",
           rt::mb::Exclamation);
      return kExitFailed;
    }
    const auto root = restore::HistoryRoot();
    const auto entries = root ? restore::ListHistory(*root) : std::vector<restore::HistoryEntry>{};
    const restore::HistoryEntry* chosen = Chosen(entries);
    if (chosen == nullptr) return kExitFailed;
    const restore::HistoryEntry& entry = *chosen;
    const std::string dataFolder = restore::ReadDataFolder(*services);
    if (const std::string why = restore::WhyNotPutBack(entry); !why.empty()) {
      Tell("この履歴からは戻せません。" + why + "(" + Shown(entry.folder.string()) + ")\n" + OtherEntries(entry),
           rt::mb::Exclamation);
      return kExitFailed;
    }
    const std::string what = Shown(entry.time) + " の" + (entry.fromUndo ? "「元に戻す」" : "復旧") +
                             "の前の雛形（文書選択編集）に戻します。";
    if (!Confirmed(what, "現在の雛形は履歴に残ります。よろしいですか？")) {
      console_.out << "中止しました。\n";
      return kExitFailed;
    }
    try {
      restore::PutBack(*root, entry, dataFolder);
    } catch (const restore::RefusedEntry& e) {
      Tell("実行時エラー " + std::to_string(e.number()) + ": " + Shown(e.description(), false) + "\n" +
               OtherEntries(entry),
           rt::mb::Critical);
      return kExitFailed;
    }
    restore::PruneHistory(*root);
    Tell("雛形（文書選択編集）を " + Shown(entry.time) + " の前の状態に戻しました。", rt::mb::Information);
    return kExitOk;
  }

  bool yes_;
  Console& console_;
  std::string entry_;
};

}  // namespace

int RunUndo(bool yes, Console& console, const std::string& entry) {
  return RunStarted(console, "元に戻せません", [&] { return UndoRun(yes, console, entry).Status(); });
}

}  // namespace zr::cli
