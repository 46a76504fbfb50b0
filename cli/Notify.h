#pragma once
// The desktop notification after a run that lost links, through org.freedesktop.Notifications on
// the session bus.

#include "app/contract/EventSource.h"
#include "cli/Pruefen.h"

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>

class QCoreApplication;

namespace cli {

class Notifier {
public:
    // `listen`: offer "Bericht öffnen" and, in waitForActions, open the changes report with
    // xdg-open when it is chosen. Qt D-Bus needs an application object: one is made here.
    explicit Notifier(bool listen);
    ~Notifier();
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    // "Quandrel Halmfang: 3 Links verloren" when the outcome lost any; nothing otherwise. Without
    // a session bus or notification service, one line on stderr instead.
    void notifyLoss(const RunRequest& request, const RunOutcome& outcome);

    // Until each notification sent is closed or its action chosen, at most `atMost`, or until a
    // stop; `events` carries the stop (the signal pipe).
    void waitForActions(std::chrono::milliseconds atMost, toolkit::EventSource& events,
                        const std::atomic<int>& stop);

    // Called from the bus.
    void actionInvoked(unsigned id, const std::string& action);
    void closed(unsigned id);

private:
    bool listen_;
    std::unique_ptr<QCoreApplication> app_;
    std::unique_ptr<class NotificationSignals> signals_;
    std::map<unsigned, std::string> open_; // notification id -> changes report
    bool told_ = false;                     // the missing bus was said once
};

} // namespace cli
