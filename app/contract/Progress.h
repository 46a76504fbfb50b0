#pragma once
// How far a long command is, as the status bar and the task bar show it, and the time it will
// still take. No Qt here: the estimate runs on whatever clock it is given.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace toolkit {

struct Progress {
    std::int64_t done = 0;  // pages checked, records read
    std::int64_t total = 0; // 0: the command is over, nothing to show
    std::string current{};  // what is being worked on (a page's address), plain text
};

class TimeLeft {
public:
    using Clock = std::chrono::steady_clock;

    explicit TimeLeft(Clock::time_point start) : start_(start) {}

    // The rest at the pace so far; none before the first item is done.
    std::optional<std::chrono::seconds> left(const Progress& progress, Clock::time_point now) const;

    // "0:07", "12:30", "1:02:03".
    static std::string ElapsedText(std::chrono::seconds elapsed);
    // "noch ca. 12 min" (minutes rounded up), "noch weniger als 1 min"; "" for none.
    static std::string LeftText(std::optional<std::chrono::seconds> left);

private:
    Clock::time_point start_;
};

} // namespace toolkit
