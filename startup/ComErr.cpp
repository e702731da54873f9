#include "startup/ComErr.h"

#include "platform/runtime/Application.h"
#include "platform/runtime/Interaction.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/Text.h"
#include "suite/Components.h"

namespace zr::startup {
namespace {

constexpr const char* kTitle = "警告メッセージ";
constexpr const char* kSeparator = "\r\r";

}  // namespace

int16_t PIntErrTrap(std::string& errorNumber, std::string& description, std::string& procedureName) {
  try {
    std::string applicationName;
    std::string unusedText;
    int32_t info = 0;
    {
      auto services = suite::CreateSuiteServices();
      services->GetProgramInfo(rt::App(), applicationName, unusedText, info);
    }

    const std::string entry = "ErrNo" + errorNumber + ":" + description;
    {
      auto services = suite::CreateSuiteServices();
      services->WriteErrorLog(applicationName, procedureName, entry, info);
    }

    std::string text;
    text += "システムエラーを検出しました！";
    text += kSeparator;
    text += "アプリケーション\u3000 [" + applicationName + "]";
    text += kSeparator;
    text += "エラートラップ関数 [" + procedureName + "]";
    text += kSeparator;
    text += "エラーコード\u3000\u3000\u3000 ：  " + errorNumber;
    text += kSeparator;
    text += "エラー内容\u3000\u3000\u3000\u3000 ：\u3000" + description;
    text += kSeparator;
    text += "処理を中断し、プログラム終了しますか？";

    if (rt::MsgBox(text, rt::mb::YesNo | rt::mb::Critical, kTitle) == rt::mb::AnswerYes) {
      rt::EndProgram();
      return 0;
    }
    return 1;
  } catch (...) {
    const rt::RuntimeError inner = rt::CurrentError();
    const std::string text =
        "予期せぬエラーが発生しました。: " + rt::DecimalText(inner.number()) + kSeparator + "強制終了します。";
    try {
      rt::MsgBox(text, rt::mb::OkOnly | rt::mb::Critical, kTitle);
    } catch (...) {
      // Nothing is left to show it with; ending is all that remains.
    }
    rt::EndProgram();
    return 0;
  }
}

void TrapCurrentError(const char* procedureName) { TrapError(rt::CurrentError(), procedureName); }

void TrapError(const rt::RuntimeError& error, const char* procedureName) {
  std::string number = rt::DecimalText(error.number());
  std::string description = error.description();
  std::string name = procedureName;
  PIntErrTrap(number, description, name);
}

}  // namespace zr::startup
