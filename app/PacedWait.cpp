#include "app/PacedWait.h"

#include "app/contract/Error.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace app {

void QtPacedWaiter::pacedWait(std::int32_t milliseconds) {
    if (aborted_)
        throw toolkit::Cancelled();
    if (milliseconds <= 0)
        return;
    QElapsedTimer clock; // monotonic
    clock.start();
    const qint64 deadline = milliseconds;

    // A nested event loop sleeps until the timer fires or an event arrives; events it handles
    // (mouse movement included) do not move the deadline, since it is fixed on entry.
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);

    running_.push_back(&loop);
    struct Pop {
        std::vector<QEventLoop*>& running;
        ~Pop() { running.pop_back(); }
    } pop{running_};
    for (qint64 remaining = deadline - clock.elapsed(); remaining > 0 && !aborted_;
         remaining = deadline - clock.elapsed()) {
        timer.start(static_cast<int>(remaining));
        // -1: the application has been told to exit, and no event loop runs any more until it
        // has; the command must not go on waiting (nor spin until its deadline).
        if (loop.exec() == -1)
            throw toolkit::Cancelled();
    }
    if (aborted_)
        throw toolkit::Cancelled();
}

void QtPacedWaiter::waitUntil(const std::function<bool()>& done) {
    while (!done())
        pacedWait(10);
}

void QtPacedWaiter::abort() {
    aborted_ = true;
    for (QEventLoop* loop : running_)
        loop->quit();
}

} // namespace app
