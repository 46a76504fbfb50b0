#include "app/PacedWait.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace app {

void QtPacedWaiter::pacedWait(std::int32_t milliseconds) {
    if (milliseconds <= 0 || aborted_)
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
    for (qint64 remaining = deadline - clock.elapsed(); remaining > 0 && !aborted_;
         remaining = deadline - clock.elapsed()) {
        timer.start(static_cast<int>(remaining));
        loop.exec();
    }
    running_.pop_back();
}

void QtPacedWaiter::abort() {
    aborted_ = true;
    for (QEventLoop* loop : running_)
        loop->quit();
}

} // namespace app
