#include "retrieval/http/PollEventSource.h"

#include <algorithm>
#include <poll.h>
#include <utility>
#include <vector>

namespace retrieval {

void PollEventSource::watchSocket(int fd, int interest, SocketReady onReady) {
    if (interest == kNone)
        sockets_.erase(fd);
    else
        sockets_[fd] = Watch{interest, std::move(onReady)};
}

void PollEventSource::startTimer(std::chrono::milliseconds delay, std::function<void()> onTimeout) {
    due_ = Clock::now() + std::max(delay, std::chrono::milliseconds(0));
    onTimeout_ = std::move(onTimeout);
}

void PollEventSource::stopTimer() {
    due_.reset();
    onTimeout_ = nullptr;
}

void PollEventSource::wait(std::chrono::milliseconds atMost) {
    auto timeout = std::max(atMost, std::chrono::milliseconds(0));
    if (due_)
        timeout = std::min(timeout, std::chrono::ceil<std::chrono::milliseconds>(
                                        std::max(*due_ - Clock::now(), Clock::duration::zero())));
    std::vector<pollfd> fds;
    fds.reserve(sockets_.size());
    for (const auto& [fd, watch] : sockets_)
        fds.push_back({fd,
                       static_cast<short>(((watch.interest & kRead) ? POLLIN : 0) |
                                          ((watch.interest & kWrite) ? POLLOUT : 0)),
                       0});
    if (::poll(fds.data(), fds.size(), static_cast<int>(timeout.count())) > 0) {
        for (const pollfd& p : fds) {
            if (p.revents == 0)
                continue;
            // An earlier callback may have dropped or replaced this watch.
            const auto it = sockets_.find(p.fd);
            if (it == sockets_.end())
                continue;
            const bool failed = (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
            const int ready = ((failed || (p.revents & POLLIN)) ? kRead : 0) |
                              ((failed || (p.revents & POLLOUT)) ? kWrite : 0);
            const SocketReady onReady = it->second.onReady;
            onReady(p.fd, ready & it->second.interest);
        }
    }
    if (due_ && Clock::now() >= *due_) {
        due_.reset();
        const std::function<void()> onTimeout = std::exchange(onTimeout_, nullptr);
        if (onTimeout)
            onTimeout();
    }
}

} // namespace retrieval
