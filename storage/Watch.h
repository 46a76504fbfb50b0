#pragma once
// The watch list's rules: the intervals and when an entry is due; and the lock that keeps a
// scheduled run and a command of the window from working on one program folder at once.

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
// never run, or with an unknown interval, is due.
bool IsDue(const WatchEntry& entry, std::time_t now);

// The user timer that runs the due entries, and the cron line that does the same where there is no
// systemd user session (the README gives the same line).
inline constexpr std::string_view kMonitorTimer = "quandrel-halmfang-monitor.timer";
inline constexpr std::string_view kCronLine =
    "17 9 * * * DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/$(id -u)/bus "
    "quandrel-halmfang ueberwachen --faellige";

// What `systemctl --user is-enabled` says: whether the timer is on, or nothing when its answer is
// no unit state (no user session, no such unit).
std::optional<bool> TimerEnabled(int exitCode, std::string_view output);

// An exclusive lock (flock) on the program folder, held for the lifetime of the object. The lock goes
// with the process, so one that crashed never leaves the folder locked.
class FolderLock {
public:
    // Null when another process holds it still after `wait`, or once `keepWaiting` (asked between
    // tries) says no.
    static std::unique_ptr<FolderLock> Acquire(const std::string& programFolder, std::chrono::milliseconds wait,
                                               const std::function<bool()>& keepWaiting = {});
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    explicit FolderLock(int fd) : fd_(fd) {}
    int fd_;
};

} // namespace storage
