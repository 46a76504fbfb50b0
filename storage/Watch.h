#pragma once
// The watch list's rules: the intervals and when an entry is due.

#include "storage/History.h"

#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace storage {

enum class Interval { Daily, Weekly, Monthly };

inline constexpr std::string_view kIntervalDaily = "täglich";
inline constexpr std::string_view kIntervalWeekly = "wöchentlich";
inline constexpr std::string_view kIntervalMonthly = "monatlich";

// The German word, also typed without umlauts ("taeglich", "woechentlich"); empty when unknown.
std::optional<Interval> ReadInterval(std::string_view text);
std::string_view IntervalName(Interval interval);

// Due by calendar days in local time, so that a timer firing a little earlier than the day
// before still runs: täglich from the day after the last run, wöchentlich seven days after,
// monatlich on the same day of the next month (its last day where it has no such day). An entry
// never run, with an unknown interval, or with a last run after `now` (a clock that was once
// ahead) is due.
bool IsDue(const WatchEntry& entry, std::time_t now);

} // namespace storage
