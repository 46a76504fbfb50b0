#include "storage/Watch.h"

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
    // A last run after now can only come from a clock that was once ahead; waiting for that date
    // would leave the entry unchecked for as long.
    if (entry.lastRun == 0 || !interval || entry.lastRun > now)
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

} // namespace storage
