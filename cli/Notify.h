#pragma once
// The desktop notification after a run that lost links.

#include "cli/Pruefen.h"

namespace cli {

// Shows "Quandrel Halmfang: N Links verloren" when the outcome lost any; does nothing otherwise.
// Without a session bus or notification service it says so in one line on stderr.
void NotifyLoss(const RunRequest& request, const RunOutcome& outcome);

} // namespace cli
