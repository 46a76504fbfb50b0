#include "app/QtEventSource.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <utility>

namespace app {

QtEventSource::QtEventSource() {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        const std::function<void()> onTimeout = std::exchange(onTimeout_, nullptr);
        if (onTimeout)
            onTimeout();
    });
}

QtEventSource::~QtEventSource() {
    for (auto& [fd, watch] : sockets_) {
        delete watch.read;
        delete watch.write;
    }
}

QSocketNotifier* QtEventSource::notifier(int fd, int kind) {
    auto* n = new QSocketNotifier(fd, kind == kRead ? QSocketNotifier::Read : QSocketNotifier::Write);
    QObject::connect(n, &QSocketNotifier::activated, [this, fd, kind] { dispatch(fd, kind); });
    return n;
}

// A notifier may be retired from its own signal, so it is only switched off here and deleted once
// control is back in the event loop.
void QtEventSource::retire(QSocketNotifier*& n) {
    if (n == nullptr)
        return;
    n->setEnabled(false);
    n->deleteLater();
    n = nullptr;
}

void QtEventSource::watchSocket(int fd, int interest, SocketReady onReady) {
    if (interest == kNone) {
        if (const auto it = sockets_.find(fd); it != sockets_.end()) {
            retire(it->second.read);
            retire(it->second.write);
            sockets_.erase(it);
        }
        return;
    }
    Watch& watch = sockets_[fd];
    watch.onReady = std::move(onReady);
    if ((interest & kRead) && watch.read == nullptr)
        watch.read = notifier(fd, kRead);
    else if (!(interest & kRead))
        retire(watch.read);
    if ((interest & kWrite) && watch.write == nullptr)
        watch.write = notifier(fd, kWrite);
    else if (!(interest & kWrite))
        retire(watch.write);
}

void QtEventSource::dispatch(int fd, int ready) {
    const auto it = sockets_.find(fd);
    if (it == sockets_.end())
        return;
    // A copy: the callback may replace or drop its own watch.
    const SocketReady onReady = it->second.onReady;
    onReady(fd, ready);
}

void QtEventSource::startTimer(std::chrono::milliseconds delay, std::function<void()> onTimeout) {
    onTimeout_ = std::move(onTimeout);
    timer_.start(std::max(delay, std::chrono::milliseconds(0)));
}

void QtEventSource::stopTimer() {
    timer_.stop();
    onTimeout_ = nullptr;
}

void QtEventSource::wait(std::chrono::milliseconds atMost) {
    // Its time-out is an event too, which ends the wait at the latest.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(std::max(atMost, std::chrono::milliseconds(0)));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace app
