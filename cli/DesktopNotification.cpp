#include "cli/DesktopNotification.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>
#include <filesystem>
#include <ostream>

#include "platform/runtime/RuntimeError.h"
#include "suite/Components.h"

namespace zr::cli {
namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
// Long enough for a service the bus starts on demand, short enough that a
// hung one cannot hold a timer's run.
constexpr int kCallTimeoutMs = 3000;

QDBusMessage Call(QDBusConnection& bus, const char* method, const QList<QVariant>& arguments) {
  QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kService, method);
  message.setArguments(arguments);
  return bus.call(message, QDBus::Block, kCallTimeoutMs);
}

// Servers that announce body markup read '&' and '<' as markup. Asked once a run.
QString BodyText(QDBusConnection& bus, const std::string& body) {
  static const bool markup = [&bus] {
    const QDBusMessage caps = Call(bus, "GetCapabilities", {});
    return caps.type() == QDBusMessage::ReplyMessage && !caps.arguments().isEmpty() &&
           caps.arguments().first().toStringList().contains("body-markup");
  }();
  const QString text = QString::fromStdString(body);
  return markup ? text.toHtmlEscaped() : text;
}

// Why the service could not be reached, once it could not: a run with many
// broken backups waits for a silent service only once.
std::string unavailable;

// Names are input: control characters are shown as \xNN, never acted on.
std::string Printable(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 15];
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace

bool ShowDesktopNotification(const std::string& summary, const std::string& body, std::string& problem) {
  if (!unavailable.empty()) {
    problem = unavailable;
    return false;
  }
  if (QCoreApplication::instance() == nullptr) {
    problem = "Qt が初期化されていません。";
    return false;
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    problem = unavailable = "セッションバスに接続できません: " + bus.lastError().message().toStdString();
    return false;
  }
  QVariantMap hints;
  hints.insert("urgency", QVariant::fromValue(static_cast<uchar>(2)));  // critical
  hints.insert("desktop-entry", QString("ZrBunsyoRes"));
  const QDBusMessage reply = Call(bus, "Notify",
                                  {QString("ZrBunsyoRes"), 0U, QString("ZrBunsyoRes"), QString::fromStdString(summary),
                                   BodyText(bus, body), QStringList(), hints, -1});
  if (reply.type() != QDBusMessage::ReplyMessage) {
    problem = unavailable = "通知サービスが応答しません: " + reply.errorMessage().toStdString();
    return false;
  }
  return true;
}

void ReportBrokenBackup(const std::string& archive, const std::string& reason, Console& console) {
  const std::string name = Printable(std::filesystem::path(archive).filename().string());
  try {
    int32_t info = static_cast<int32_t>(getpid());
    suite::CreateSuiteServices()->WriteErrorLog("ZrBunsyoRes", "--verify",
                                                "復旧に使えないバックアップ: " + archive + ": " + reason, info);
  } catch (const rt::RuntimeError& e) {
    console.err << "ZrBunsyoRes: エラーログに書けません: " << e.description() << '\n';
  }
  std::string problem;
  if (!ShowDesktopNotification("ZrBunsyoRes", "バックアップ「" + name + "」は復旧に使えません。\n" + Printable(reason),
                               problem)) {
    console.err << "ZrBunsyoRes: デスクトップに通知できません（" << problem << "）: " << name << '\n';
  }
}

}  // namespace zr::cli
