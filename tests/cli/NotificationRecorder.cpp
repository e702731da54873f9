// A freedesktop notification service of the tests' own, started by a private
// session bus on demand: it owns org.freedesktop.Notifications and appends
// one line per Notify call to the file it is given (summary, body, the
// urgency hint's D-Bus signature and value, app name), flushed before it
// answers, so the caller's return means the line is there.
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QVariantMap>
#include <cstdio>
#include <string>

namespace {

class Recorder : public QDBusVirtualObject {
 public:
  explicit Recorder(std::string file) : file_(std::move(file)) {}

  QString introspect(const QString&) const override { return {}; }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() == "GetCapabilities") {
      connection.send(message.createReply(QStringList{"body", "body-markup"}));
      return true;
    }
    if (message.member() != "Notify" || message.arguments().size() != 8) return false;
    const QList<QVariant> a = message.arguments();
    QVariantMap hints;
    a[6].value<QDBusArgument>() >> hints;
    const QVariant urgency = hints.value("urgency");
    const QString line = a[3].toString() + "\t" + a[4].toString().replace('\n', "\\n") + "\t" +
                         QString(urgency.metaType().name()) + ":" + QString::number(urgency.toInt()) + "\t" +
                         a[0].toString() + "\n";
    const QByteArray bytes = line.toUtf8();
    const int fd = open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || write(fd, bytes.data(), static_cast<size_t>(bytes.size())) != bytes.size() || fsync(fd) != 0) {
      std::perror(file_.c_str());
      _exit(1);
    }
    close(fd);
    connection.send(message.createReply(QVariant::fromValue(1U)));
    return true;
  }

 private:
  std::string file_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  QCoreApplication app(argc, argv);
  Recorder recorder(argv[1]);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.registerVirtualObject("/org/freedesktop/Notifications", &recorder) ||
      !bus.registerService("org.freedesktop.Notifications")) {
    return 1;
  }
  // Ends with the bus that started it, so no test leaves it behind.
  bus.connect(QString(), "/org/freedesktop/DBus/Local", "org.freedesktop.DBus.Local", "Disconnected", &app,
              SLOT(quit()));
  return QCoreApplication::exec();
}
