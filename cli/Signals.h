#pragma once
// SIGINT, SIGTERM and SIGHUP during a console run: the handler only writes the signal number into a
// pipe; the run's event loop reads it, sets the stop flag and so ends the run as closing the window
// does. SIGHUP (the terminal or SSH session closed) counts as SIGTERM, so that the pages checked
// are reported. A second signal of the same kind ends the process at once (the default action).

#include "app/contract/EventSource.h"

#include <atomic>

namespace cli {

class StopOnSignals {
public:
    // Installs the handlers and watches the pipe in `events`; `stop` gets the signal's number.
    StopOnSignals(toolkit::EventSource& events, std::atomic<int>& stop);
    ~StopOnSignals(); // restores the default actions
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

private:
    toolkit::EventSource& events_;
    int readFd_ = -1;
};

} // namespace cli
