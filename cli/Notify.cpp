#include "cli/Notify.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusInterface>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>

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

} // namespace

// Receives the notification service's two signals.
class NotificationSignals : public QObject {
    Q_OBJECT
public:
    explicit NotificationSignals(Notifier& owner) : owner_(owner) {}
public slots:
    void onAction(uint id, const QString& action) { owner_.actionInvoked(id, action.toStdString()); }
    void onClosed(uint id, uint /*reason*/) { owner_.closed(id); }

private:
    Notifier& owner_;
};

Notifier::Notifier(bool listen) : listen_(listen) {
    if (QCoreApplication::instance() == nullptr)
        app_ = std::make_unique<QCoreApplication>(g_argc, g_argv);
    signals_ = std::make_unique<NotificationSignals>(*this);
}

Notifier::~Notifier() {
    signals_.reset();
}

void Notifier::notifyLoss(const RunRequest& request, const RunOutcome& outcome) {
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
    std::string body = request.domain;
    for (const auto& [word, n] : outcome.changes)
        body += "\n" + std::to_string(n) + " × " + word;
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

void Notifier::waitForActions(std::chrono::milliseconds atMost, toolkit::EventSource& events,
                              const std::atomic<int>& stop) {
    const auto until = std::chrono::steady_clock::now() + atMost;
    while (!open_.empty() && stop.load() == 0 && std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        events.wait(std::chrono::milliseconds(50));
    }
}

void Notifier::actionInvoked(unsigned id, const std::string& action) {
    const auto it = open_.find(id);
    if (it == open_.end() || action != kOpenAction)
        return;
    if (!QProcess::startDetached(QStringLiteral("xdg-open"), {Q(it->second)}))
        std::fprintf(stderr, "Der Bericht %s ließ sich nicht öffnen (xdg-open fehlt?).\n", it->second.c_str());
    open_.erase(it);
}

void Notifier::closed(unsigned id) {
    open_.erase(id);
}

} // namespace cli

#include "Notify.moc"
