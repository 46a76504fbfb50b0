#include "app/contract/Progress.h"

#include <cstdio>

namespace toolkit {

std::optional<std::chrono::seconds> TimeLeft::left(const Progress& progress, Clock::time_point now) const {
    if (progress.done <= 0 || progress.total <= progress.done)
        return progress.total > 0 && progress.done >= progress.total ? std::optional(std::chrono::seconds(0))
                                                                     : std::nullopt;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - start_);
    const auto rest = elapsed * (progress.total - progress.done) / progress.done;
    return std::chrono::duration_cast<std::chrono::seconds>(rest);
}

std::string TimeLeft::ElapsedText(std::chrono::seconds elapsed) {
    const long long s = elapsed.count() < 0 ? 0 : elapsed.count();
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

std::string TimeLeft::LeftText(std::optional<std::chrono::seconds> left) {
    if (!left)
        return {};
    if (*left < std::chrono::seconds(60))
        return "noch weniger als 1 min";
    return "noch ca. " + std::to_string((left->count() + 59) / 60) + " min";
}

} // namespace toolkit
