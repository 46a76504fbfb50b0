// A notification service for tests, on the bus whose address it is given (a private one the test
// started): it writes each Notify call to a file, one line of fields separated by '|', and answers
// it at once by choosing the notification's first action, as a user clicking it would.
//
// Usage: fake_notifications <bus-address> <log-file>; it writes <log-file>.ready once it serves.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <cstdio>

namespace {

QString g_log;
QDBusConnection* g_bus = nullptr;

} // namespace

class Service : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public slots:
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
    uint Notify(const QString& app, uint /*replaces*/, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int /*timeout*/) {
        const uint id = ++last_;
        QFile log(g_log);
        if (log.open(QIODevice::Append)) {
            const QStringList fields = {app, icon, summary, QString(body).replace(QLatin1Char('\n'), QLatin1Char('/')),
                                        actions.join(QLatin1Char(',')),
                                        hints.value(QStringLiteral("desktop-entry")).toString()};
            log.write(fields.join(QLatin1Char('|')).toUtf8() + "\n");
        }
        if (!actions.isEmpty()) {
            const QString action = actions.first();
            QTimer::singleShot(100, [id, action] {
                QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                                 QStringLiteral("org.freedesktop.Notifications"),
                                                                 QStringLiteral("ActionInvoked"));
                signal << id << action;
                g_bus->send(signal);
            });
        }
        return id;
    }

private:
    uint last_ = 0;
};

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fake_notifications <bus-address> <log-file>\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    g_log = QString::fromLocal8Bit(argv[2]);
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromLocal8Bit(argv[1]), QStringLiteral("test"));
    g_bus = &bus;
    Service service;
    if (!bus.isConnected() || !bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                                  QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        std::fprintf(stderr, "fake_notifications: cannot serve on the bus\n");
        return 1;
    }
    QFile ready(g_log + QStringLiteral(".ready"));
    if (!ready.open(QIODevice::WriteOnly))
        return 1;
    ready.close();
    return QCoreApplication::exec();
}

#include "FakeNotifications.moc"
