// The task bar's progress over D-Bus: com.canonical.Unity.LauncherEntry on the session bus.
#include "app/TaskbarProgress.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace app {

namespace {

class LauncherEntry final : public TaskbarProgress {
public:
    // Without a session bus nothing is sent and nothing is said.
    void show(bool visible, double fraction) override {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            return;
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/quandrel/Halmfang"),
                                                         QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                         QStringLiteral("Update"));
        QVariantMap properties;
        properties.insert(QStringLiteral("progress-visible"), visible);
        properties.insert(QStringLiteral("progress"), visible ? fraction : 0.0);
        signal << QStringLiteral("application://org.quandrel.Halmfang.desktop") << properties;
        bus.send(signal);
    }
};

} // namespace

std::unique_ptr<TaskbarProgress> MakeTaskbarProgress() {
    return std::make_unique<LauncherEntry>();
}

} // namespace app
