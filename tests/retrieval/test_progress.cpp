// The time-left estimate and its words, on a fake clock.
#include "app/contract/Progress.h"

#include <gtest/gtest.h>

using toolkit::Progress;
using toolkit::TimeLeft;
using namespace std::chrono_literals;

TEST(TimeLeft, EstimatesTheRestAtThePaceSoFarAndSaysItInMinutes) {
    const TimeLeft::Clock::time_point start{};
    const TimeLeft estimate(start);
    const struct {
        Progress progress;
        std::chrono::seconds elapsed;
        const char* left;
        const char* shown;
    } cases[] = {
        {{0, 1000}, 5s, nullptr, ""},                 // nothing done yet: no guess
        {{10, 1000}, 12s, "1188", "noch ca. 20 min"}, // 1.2 s a page
        {{500, 1000}, 600s, "600", "noch ca. 10 min"},
        {{999, 1000}, 1199s, "1", "noch weniger als 1 min"},
        {{61, 122}, 61s, "61", "noch ca. 2 min"}, // minutes rounded up
        {{1000, 1000}, 1200s, "0", "noch weniger als 1 min"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        const auto left = estimate.left(c.progress, start + c.elapsed);
        if (c.left == nullptr)
            EXPECT_EQ(left, std::nullopt);
        else
            EXPECT_EQ(left, std::chrono::seconds(std::stoll(c.left)));
        EXPECT_EQ(TimeLeft::LeftText(left), c.shown);
    }
    EXPECT_EQ(TimeLeft::ElapsedText(7s), "0:07");
    EXPECT_EQ(TimeLeft::ElapsedText(750s), "12:30");
    EXPECT_EQ(TimeLeft::ElapsedText(3723s), "1:02:03");
}
