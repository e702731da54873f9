#include "cli/CommandLine.h"

#include <string_view>

#include "restore/History.h"

namespace zr::cli {
namespace {

Request Problem(std::string text) {
  Request r;
  r.command = Command::UsageError;
  r.problem = std::move(text);
  return r;
}

// Qt's own options, which QApplication takes out of the arguments when the
// window starts: those followed by a value ("-style X" or "-style=X"), those
// that only take "=value", then the flags. Only the single-dash form is left
// to Qt; "--…" is ours.
constexpr std::string_view kQtValued[] = {"-platform",      "-platformpluginpath",
                                          "-platformtheme", "-plugin",
                                          "-style",         "-stylesheet",
                                          "-session",       "-qwindowgeometry",
                                          "-qwindowicon",   "-qwindowtitle",
                                          "-display",       "-geometry",
                                          "-title",         "-name",
                                          "-icon"};
constexpr std::string_view kQtJoined[] = {"-qmljsdebugger", "-dialogs", "-fontengine"};
constexpr std::string_view kQtFlags[] = {"-reverse", "-widgetcount", "-sync", "-nograb", "-dograb", "-testability"};

bool WithValue(std::string_view arg, std::string_view option) {
  return arg.size() > option.size() && arg.substr(0, option.size()) == option && arg[option.size()] == '=';
}

// How many arguments from `at` a Qt option takes (0: not one of Qt's).
std::size_t QtOptionLength(const std::vector<std::string>& arguments, std::size_t at) {
  const std::string_view arg = arguments[at];
  for (const std::string_view flag : kQtFlags) {
    if (arg == flag) return 1;
  }
  for (const std::string_view option : kQtJoined) {
    if (WithValue(arg, option)) return 1;
  }
  for (const std::string_view option : kQtValued) {
    if (WithValue(arg, option)) return 1;
    if (arg == option) return at + 1 < arguments.size() ? 2 : 0;
  }
  return 0;
}

// The request as parsed, unless an option came with a command it does not go with.
Request WithFittingOptions(const Request& request, const std::string& qtOption, bool optionsEnded) {
  if (!qtOption.empty() && request.command != Command::Window) {
    return Problem("Qt のオプションはウィンドウを開くときだけ指定できます: " + qtOption);
  }
  if (request.yes && request.command != Command::Undo && request.command != Command::Restore) {
    return Problem("--yes は --undo か --restore と一緒に指定します。");
  }
  if ((request.onlyNew || request.notify) && request.command != Command::Verify) {
    return Problem("--new と --notify は --verify と一緒に指定します。");
  }
  if (request.command == Command::Window && optionsEnded) return Problem("余分な引数があります: --");
  return request;
}

}  // namespace

Request ParseCommandLine(const std::vector<std::string>& arguments) {
  Request request;
  bool optionsEnded = false;
  std::string qtOption;
  for (std::size_t at = 0; at < arguments.size(); ++at) {
    const std::string& argument = arguments[at];
    if (const std::size_t length = optionsEnded ? 0 : QtOptionLength(arguments, at)) {
      if (qtOption.empty()) qtOption = argument;
      at += length - 1;
      continue;
    }
    if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
      if (request.command != Command::Verify) return Problem("余分な引数があります: " + argument);
      request.paths.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    Command command;
    if (argument == "--undo") {
      command = Command::Undo;
      // The entry to take back, when the next argument is not an option.
      if (at + 1 < arguments.size() && !arguments[at + 1].empty() && arguments[at + 1][0] != '-') {
        const auto folder = restore::EntryFolderFor(arguments[++at]);
        if (!folder) return Problem("履歴の番号が正しくありません: " + arguments[at]);
        request.undoEntry = *folder;
      }
    } else if (argument == "--restore") {
      command = Command::Restore;
      if (at + 1 >= arguments.size()) return Problem("--restore にはバックアップファイルを指定します。");
      request.archive = arguments[++at];
    } else if (argument == "--verify") {
      command = Command::Verify;
    } else if (argument == "--history") {
      command = Command::History;
    } else if (argument == "--help" || argument == "-h") {
      command = Command::Help;
    } else if (argument == "--version") {
      command = Command::Version;
    } else if (argument == "--yes" || argument == "-y") {
      request.yes = true;
      continue;
    } else if (argument == "--new" || argument == "--notify") {
      (argument == "--new" ? request.onlyNew : request.notify) = true;
      continue;
    } else {
      return Problem("不明なオプションです: " + argument);
    }
    if (request.command != Command::Window) return Problem("オプションは一つだけ指定してください: " + argument);
    request.command = command;
  }
  return WithFittingOptions(request, qtOption, optionsEnded);
}

std::string UsageText() {
  return "使い方: ZrBunsyoRes [オプション]\n"
         "あおば！ナビの雛形（文書選択編集）をバックアップから復旧します。\n"
         "オプションなしで起動すると復旧ウィンドウを開きます。\n"
         "\n"
         "  --verify [パス...]  バックアップを検査します（データフォルダは変更しません）。\n"
         "                      パスはバックアップファイルか、フォルダ（ZrDataBK があればその中）。\n"
         "                      省略時は ZrX.ini に記録されたバックアップの場所。\n"
         "                      1 行に 1 ファイル: OK<TAB>ファイル名<TAB>データのバージョン[<TAB>ほかの破損]\n"
         "                                      NG<TAB>ファイル名<TAB>理由\n"
         "    --new             今の形でまだ検査していないバックアップだけを検査し、\n"
         "                      結果をスイートのフォルダの verified.tsv に覚えます。\n"
         "    --notify          NG をデスクトップ通知とスイートのエラーログにも出します。\n"
         "  --undo [N] [--yes]  直前の復旧を元に戻します（履歴の最新の組を戻します）。\n"
         "                      N を指定すると、その番号の履歴の組を戻します。\n"
         "                      端末では y/N で確認します。--yes で確認を省きます。\n"
         "  --restore ファイル [--yes]\n"
         "                      バックアップファイルから雛形（文書選択編集）を復旧します。\n"
         "                      ウィンドウと同じ検査をし、端末では y/N で確認します。\n"
         "  --history           復旧の履歴を新しい順に表示します。\n"
         "                      1 行に 1 件: 番号<TAB>日時<TAB>種類<TAB>バックアップまたは理由\n"
         "  --help              この説明を表示します。\n"
         "  --version           バージョンを表示します。\n"
         "\n"
         "ウィンドウを開くときは Qt の標準オプション（-platform、-style、-display、-reverse など）も使えます。\n"
         "\n"
         "終了ステータス: 0 成功（--verify はすべて OK）、1 失敗（--verify は NG あり）、2 使い方の誤り。\n";
}

}  // namespace zr::cli
