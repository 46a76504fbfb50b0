// The desktop notification over D-Bus: org.freedesktop.Notifications on the session bus, and
// xdg-open for the report a click asks for.
#include "cli/Notify.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>
#include <map>
#include <string>

namespace cli {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
constexpr const char* kOpenAction = "bericht";

int g_argc = 1;
char g_name[] = "quandrel-halmfang";
char* g_argv[] = {g_name, nullptr};

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// A server that reads markup in the body would take a domain's "<" or "&" for markup.
bool ServerReadsMarkup(QDBusConnection& bus) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("GetCapabilities"));
    const QDBusReply<QStringList> reply = bus.call(call, QDBus::Block, 5000);
    // Where it cannot be asked, escaping is the safe side: a server without markup shows "&amp;"
    // at worst, one with markup never runs what a stored domain holds.
    return !reply.isValid() || reply.value().contains(QStringLiteral("body-markup"));
}

} // namespace

class NotificationSignals;

class DBusNotifier final : public Notifier {
public:
    // Qt D-Bus needs an application object: one is made here.
    explicit DBusNotifier(bool listen);
    ~DBusNotifier() override;
    DBusNotifier(const DBusNotifier&) = delete;
    DBusNotifier& operator=(const DBusNotifier&) = delete;

    void notifyLoss(const RunRequest& request, const RunOutcome& outcome) override;
    void waitForActions(std::chrono::milliseconds atMost, toolkit::EventSource& events,
                        const std::atomic<int>& stop) override;

    // Called from the bus.
    void actionInvoked(unsigned id, const std::string& action);
    void closed(unsigned id);

private:
    bool listen_;
    std::unique_ptr<QCoreApplication> app_;
    std::unique_ptr<NotificationSignals> signals_;
    std::map<unsigned, std::string> open_; // notification id -> changes report
    bool told_ = false;                     // the missing bus was said once
};

// Receives the notification service's two signals.
class NotificationSignals : public QObject {
    Q_OBJECT
public:
    explicit NotificationSignals(DBusNotifier& owner) : owner_(owner) {}
public slots:
    void onAction(uint id, const QString& action) { owner_.actionInvoked(id, action.toStdString()); }
    void onClosed(uint id, uint /*reason*/) { owner_.closed(id); }

private:
    DBusNotifier& owner_;
};

DBusNotifier::DBusNotifier(bool listen) : listen_(listen) {
    if (QCoreApplication::instance() == nullptr)
        app_ = std::make_unique<QCoreApplication>(g_argc, g_argv);
    signals_ = std::make_unique<NotificationSignals>(*this);
}

DBusNotifier::~DBusNotifier() {
    signals_.reset();
}

void DBusNotifier::notifyLoss(const RunRequest& request, const RunOutcome& outcome) {
    if (outcome.lost <= 0)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (!told_)
            std::fprintf(stderr, "Keine Benachrichtigung: Es gibt keinen Sitzungsbus (%s).\n",
                         bus.lastError().message().toLocal8Bit().constData());
        told_ = true;
        return;
    }
    if (listen_ && open_.empty()) {
        bus.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), signals_.get(),
                    SLOT(onAction(uint, QString)));
        bus.connect(kService, kPath, kService, QStringLiteral("NotificationClosed"), signals_.get(),
                    SLOT(onClosed(uint, uint)));
    }
    const std::string summary = "Quandrel Halmfang: " + std::to_string(outcome.lost) +
                                (outcome.lost == 1 ? " Link verloren" : " Links verloren");
    const std::string body = LossNotificationBody(request, outcome, ServerReadsMarkup(bus));
    QStringList actions;
    const bool offer = listen_ && !outcome.changesReport.empty();
    if (offer)
        actions << QString::fromLatin1(kOpenAction) << QStringLiteral("Bericht öffnen");
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral(QH_APP_ID));
    hints.insert(QStringLiteral("category"), QStringLiteral("transfer.complete"));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    call << QStringLiteral("Quandrel Halmfang") << 0u << QStringLiteral(QH_APP_ID) << Q(summary) << Q(body)
         << actions << hints << -1;
    const QDBusReply<uint> reply = bus.call(call, QDBus::Block, 5000);
    if (!reply.isValid()) {
        std::fprintf(stderr, "Keine Benachrichtigung: %s\n", reply.error().message().toLocal8Bit().constData());
        return;
    }
    if (offer)
        open_[reply.value()] = outcome.changesReport;
}

void DBusNotifier::waitForActions(std::chrono::milliseconds atMost, toolkit::EventSource& events,
                              const std::atomic<int>& stop) {
    const auto until = std::chrono::steady_clock::now() + atMost;
    while (!open_.empty() && stop.load() == 0 && std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        events.wait(std::chrono::milliseconds(50));
    }
}

void DBusNotifier::actionInvoked(unsigned id, const std::string& action) {
    const auto it = open_.find(id);
    if (it == open_.end() || action != kOpenAction)
        return;
    if (!QProcess::startDetached(QStringLiteral("xdg-open"), {Q(it->second)}))
        std::fprintf(stderr, "Der Bericht %s ließ sich nicht öffnen (xdg-open fehlt?).\n", it->second.c_str());
    open_.erase(it);
}

void DBusNotifier::closed(unsigned id) {
    open_.erase(id);
}

std::unique_ptr<Notifier> MakeNotifier(bool listen) {
    return std::make_unique<DBusNotifier>(listen);
}

} // namespace cli

#include "NotifyDBus.moc"
