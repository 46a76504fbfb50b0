#pragma once
// The event source of a transfer without a window: poll(2) on the watched sockets.

#include "app/contract/EventSource.h"

#include <chrono>
#include <map>
#include <optional>

namespace retrieval {

class PollEventSource final : public toolkit::EventSource {
public:
    void watchSocket(int fd, int interest, SocketReady onReady) override;
    void startTimer(std::chrono::milliseconds delay, std::function<void()> onTimeout) override;
    void stopTimer() override;
    void wait(std::chrono::milliseconds atMost) override;

private:
    using Clock = std::chrono::steady_clock;
    struct Watch {
        int interest;
        SocketReady onReady;
    };
    std::map<int, Watch> sockets_;
    std::optional<Clock::time_point> due_;
    std::function<void()> onTimeout_;
};

} // namespace retrieval
