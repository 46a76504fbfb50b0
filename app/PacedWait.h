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
    // Throws toolkit::Cancelled once abort() was called, and when the application is quitting.
    void pacedWait(std::int32_t milliseconds) override;
    // Short paced waits until `done`.
    void waitUntil(const std::function<bool()>& done) override;

    // Ends the waits that are running now; they and every later wait throw toolkit::Cancelled
    // until reset().
    void abort();
    void reset() { aborted_ = false; }
    bool aborted() const { return aborted_; }

private:
    std::vector<QEventLoop*> running_; // nested waits, innermost last
    bool aborted_ = false;
};

} // namespace app
