#pragma once
// What a transfer needs of an event loop to make progress in it: readiness of its sockets and one
// timer. The window implements it over its own event loop, so that a transfer goes on in every
// loop the window runs, a modal box's included; retrieval has one over poll(2) for use without a
// window.

#include <chrono>
#include <functional>

namespace toolkit {

class EventSource {
public:
    enum Interest : int { kNone = 0, kRead = 1, kWrite = 2 };
    // `ready` holds kRead and/or kWrite. Called from the event loop: it must not throw.
    using SocketReady = std::function<void(int fd, int ready)>;

    virtual ~EventSource() = default;

    // Calls onReady whenever `fd` is ready for what `interest` names; kNone stops watching it. A new
    // call for the same socket replaces the earlier one.
    virtual void watchSocket(int fd, int interest, SocketReady onReady) = 0;
    // The one single-shot timer: onTimeout runs once, `delay` from now, unless a new start or a stop
    // comes first. Called from the event loop: it must not throw.
    virtual void startTimer(std::chrono::milliseconds delay, std::function<void()> onTimeout) = 0;
    virtual void stopTimer() = 0;
    // Handles pending events, first waiting for one when there is none, and returns after at most
    // `atMost`.
    virtual void wait(std::chrono::milliseconds atMost) = 0;
};

} // namespace toolkit
