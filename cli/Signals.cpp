#include "cli/Signals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace cli {

namespace {

int g_writeFd = -1;

void OnSignal(int signal) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_writeFd, &byte, 1);
    // The next one of the kind is not waited for: the user insists.
    std::signal(signal, SIG_DFL);
    errno = saved;
}

} // namespace

StopOnSignals::StopOnSignals(toolkit::EventSource& events, std::atomic<int>& stop) : events_(events) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // then a signal ends the process as it would without us
    readFd_ = fds[0];
    g_writeFd = fds[1];
    events_.watchSocket(readFd_, toolkit::EventSource::kRead, [&stop](int fd, int) {
        unsigned char byte = 0;
        while (::read(fd, &byte, 1) == 1)
            if (stop.load() == 0)
                stop.store(byte == SIGHUP ? SIGTERM
                                          : byte); // a closed terminal asks to stop, as SIGTERM does
    });
    struct sigaction action{};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

StopOnSignals::~StopOnSignals() {
    if (readFd_ < 0)
        return;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, SIG_DFL);
    events_.watchSocket(readFd_, toolkit::EventSource::kNone, {});
    ::close(readFd_);
    ::close(g_writeFd);
    g_writeFd = -1;
}

} // namespace cli
