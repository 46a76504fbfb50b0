#pragma once
// The desktop notification after a run that lost links. NotifyDBus.cpp sends it to the desktop's
// notification service on the session bus; a port adds a file of its own.

#include "app/contract/EventSource.h"
#include "cli/Pruefen.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace cli {

class Notifier {
public:
    virtual ~Notifier() = default;

    // "Quandrel Halmfang: 3 Links verloren" when the outcome lost any; nothing otherwise. Without
    // a notification service, one line on stderr instead.
    virtual void notifyLoss(const RunRequest& request, const RunOutcome& outcome) = 0;

    // Until each notification sent is closed or its action chosen, at most `atMost`, or until a
    // stop; `events` carries the stop (the signal pipe).
    virtual void waitForActions(std::chrono::milliseconds atMost, toolkit::EventSource& events,
                                const std::atomic<int>& stop) = 0;
};

// The notification's body: the domain, then one line per word of a loss with its count. For a server
// that reads markup in the body, `markup` escapes what would be read as markup.
std::string LossNotificationBody(const RunRequest& request, const RunOutcome& outcome, bool markup);

// `listen`: offer "Bericht öffnen" and, in waitForActions, open the changes report when it is chosen.
std::unique_ptr<Notifier> MakeNotifier(bool listen);

} // namespace cli
