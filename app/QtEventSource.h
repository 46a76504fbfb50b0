#pragma once
// The event source of transfers over the window's event loop: socket notifiers and a timer, which
// fire in whatever loop runs, also a modal box's.

#include "app/contract/EventSource.h"

#include <QTimer>
#include <map>

class QSocketNotifier;

namespace app {

class QtEventSource final : public toolkit::EventSource {
public:
    QtEventSource();
    ~QtEventSource() override;
    QtEventSource(const QtEventSource&) = delete;
    QtEventSource& operator=(const QtEventSource&) = delete;

    void watchSocket(int fd, int interest, SocketReady onReady) override;
    void startTimer(std::chrono::milliseconds delay, std::function<void()> onTimeout) override;
    void stopTimer() override;
    void wait(std::chrono::milliseconds atMost) override;

private:
    struct Watch {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
        SocketReady onReady;
    };
    QSocketNotifier* notifier(int fd, int kind);
    void dispatch(int fd, int ready);
    static void retire(QSocketNotifier*& n);

    std::map<int, Watch> sockets_;
    QTimer timer_;
    std::function<void()> onTimeout_;
};

} // namespace app
