// When a watch list entry is due, on a fixed clock and time zone; and the folder lock.
#include "storage/FolderLock.h"
#include "storage/Watch.h"
#include "tests/storage/StorageTestSupport.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A local time in Europe/Berlin.
std::time_t At(int year, int month, int day, int hour, int minute) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

TEST(Watch, DueByCalendarDaysOfTheInterval) {
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    struct Case {
        const char* interval;
        std::time_t last;
        std::time_t now;
        bool due;
    };
    const Case cases[] = {
        {"täglich", 0, At(2026, 12, 7, 9, 0), true}, // never run
        {"täglich", At(2026, 12, 7, 0, 5), At(2026, 12, 7, 23, 59), false},
        {"täglich", At(2026, 12, 7, 0, 5), At(2026, 12, 8, 0, 1), true}, // the timer a little early
        {"taeglich", At(2026, 12, 7, 23, 50), At(2026, 12, 8, 0, 10), true},
        {"wöchentlich", At(2026, 12, 1, 8, 0), At(2026, 12, 7, 23, 0), false},
        {"wöchentlich", At(2026, 12, 1, 8, 0), At(2026, 12, 8, 0, 0), true},
        // Across the change to summer time the days still count.
        {"wöchentlich", At(2026, 3, 25, 0, 30), At(2026, 4, 1, 0, 10), true},
        {"monatlich", At(2026, 11, 15, 12, 0), At(2026, 12, 14, 23, 0), false},
        {"monatlich", At(2026, 11, 15, 12, 0), At(2026, 12, 15, 0, 0), true},
        {"monatlich", At(2027, 1, 31, 12, 0), At(2027, 2, 27, 12, 0), false},
        {"monatlich", At(2027, 1, 31, 12, 0), At(2027, 2, 28, 6, 0), true}, // February's last day
        {"monatlich", At(2026, 12, 20, 12, 0), At(2027, 1, 20, 6, 0), true}, // into the next year
        {"stündlich", At(2026, 12, 7, 0, 5), At(2026, 12, 7, 0, 6), true}, // unknown: due
        // A last run after now: the clock was once ahead, so the entry must not wait for that date.
        {"wöchentlich", At(2027, 6, 1, 9, 0), At(2026, 12, 7, 9, 0), true},
        {"täglich", At(2026, 12, 7, 9, 30), At(2026, 12, 7, 9, 0), true},
    };
    for (const Case& c : cases) {
        storage::WatchEntry entry{"a.example", "a.example", "seokicks", "100", c.interval, c.last};
        EXPECT_EQ(storage::IsDue(entry, c.now), c.due) << c.interval << " last " << c.last << " now " << c.now;
    }
}

TEST(Watch, FolderLockIsHeldAgainstOtherProcessesUntilReleased) {
    storage_test::TempFolder folder;
    const std::string& path = folder.path();
    auto lock = storage::FolderLock::Acquire(path, std::chrono::milliseconds(0));
    ASSERT_TRUE(lock);
    // Another process waits in vain while it is held, and gets it once it is released.
    const auto tryInChild = [&path] {
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(storage::FolderLock::Acquire(path, std::chrono::milliseconds(200)) ? 0 : 1);
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    EXPECT_FALSE(tryInChild());
    lock.reset();
    EXPECT_TRUE(tryInChild());
}

} // namespace
