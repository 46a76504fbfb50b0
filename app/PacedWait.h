#pragma once
// Lets time pass on the window thread while window events go on being handled, so that the
// window repaints and stays usable during the pauses of a command.

#include "app/contract/Toolkit.h"

#include <vector>

class QEventLoop;

namespace app {

class QtPacedWaiter final : public toolkit::PacedWaiter {
public:
    // Returns once `milliseconds` have passed on a monotonic clock; 0 or less returns at once.
    // Returns early only after abort(), which the window uses when it is being closed.
    void pacedWait(std::int32_t milliseconds) override;

    // Ends the waits that are running now; later waits run normally until reset().
    void abort();
    void reset() { aborted_ = false; }
    bool aborted() const { return aborted_; }

private:
    std::vector<QEventLoop*> running_; // nested waits, innermost last
    bool aborted_ = false;
};

} // namespace app
