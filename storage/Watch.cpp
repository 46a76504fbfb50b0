#include "storage/Watch.h"

#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace storage {

namespace {

using std::chrono::days;
using std::chrono::sys_days;
using std::chrono::year_month_day;

// The local calendar day of a moment.
year_month_day LocalDay(std::time_t time) {
    std::tm local{};
    ::localtime_r(&time, &local);
    return year_month_day(std::chrono::year(local.tm_year + 1900), std::chrono::month(unsigned(local.tm_mon + 1)),
                          std::chrono::day(unsigned(local.tm_mday)));
}

} // namespace

std::optional<Interval> ReadInterval(std::string_view text) {
    if (text == kIntervalDaily || text == "taeglich")
        return Interval::Daily;
    if (text == kIntervalWeekly || text == "woechentlich")
        return Interval::Weekly;
    if (text == kIntervalMonthly)
        return Interval::Monthly;
    return std::nullopt;
}

std::string_view IntervalName(Interval interval) {
    switch (interval) {
    case Interval::Daily:
        return kIntervalDaily;
    case Interval::Weekly:
        return kIntervalWeekly;
    case Interval::Monthly:
        break;
    }
    return kIntervalMonthly;
}

bool IsDue(const WatchEntry& entry, std::time_t now) {
    const std::optional<Interval> interval = ReadInterval(entry.interval);
    if (entry.lastRun == 0 || !interval)
        return true;
    const year_month_day last = LocalDay(entry.lastRun);
    sys_days next;
    switch (*interval) {
    case Interval::Daily:
        next = sys_days(last) + days(1);
        break;
    case Interval::Weekly:
        next = sys_days(last) + days(7);
        break;
    case Interval::Monthly: {
        const std::chrono::year_month month = last.year() / last.month() + std::chrono::months(1);
        const year_month_day same = month / last.day();
        next = same.ok() ? sys_days(same) : sys_days(month / std::chrono::last);
        break;
    }
    }
    return sys_days(LocalDay(now)) >= next;
}

std::unique_ptr<FolderLock> FolderLock::Acquire(const std::string& programFolder, std::chrono::milliseconds wait,
                                                const std::function<bool()>& keepWaiting) {
    // The folder itself is locked: no file of its own in it, and apart from SQLite's locks on
    // halmfang.db, which a descriptor of ours on that file could release.
    const std::string path = programFolder.empty() ? std::string(".") : programFolder;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return std::unique_ptr<FolderLock>(new FolderLock(fd));
        if (std::chrono::steady_clock::now() >= until || (keepWaiting && !keepWaiting()))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::close(fd);
    return nullptr;
}

FolderLock::~FolderLock() {
    ::close(fd_);
}

std::optional<bool> TimerEnabled(int exitCode, std::string_view output) {
    const std::size_t end = output.find_first_of("\r\n");
    std::string_view state = output.substr(0, end);
    while (!state.empty() && (state.back() == ' ' || state.back() == '\t'))
        state.remove_suffix(1);
    if (state == "enabled" || state == "enabled-runtime")
        return exitCode == 0;
    // The states of an installed unit that is not on; "not-found", "bad" and an empty answer mean
    // the timer cannot be switched here.
    for (const std::string_view off : {"disabled", "static", "indirect", "masked", "masked-runtime", "linked",
                                       "linked-runtime", "alias", "generated", "transient"})
        if (state == off)
            return false;
    return std::nullopt;
}

} // namespace storage
