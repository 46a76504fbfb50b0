// The scheduler on a fake clock: every row's fetch takes its time, its row is done a second after
// the fetch ended (the wait), and each case lists when each job's fetches started.
#include "retrieval/FetchScheduler.h"

#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

using retrieval::FetchScheduler;
using namespace std::chrono_literals;

namespace {

struct Answer {
    int durationMs = 200;
    int status = 200;
    std::optional<int> retryAfterS{}; // 429/503 only
};

struct Case {
    const char* name;
    int parallel;
    std::vector<std::string> urls;
    std::map<std::size_t, std::vector<Answer>> answers; // per job and attempt; 200 after 200 ms otherwise
    std::vector<std::vector<int>> starts;               // ms, per job
};

std::vector<std::vector<int>> Simulate(const Case& c) {
    using TimePoint = FetchScheduler::TimePoint;
    const TimePoint zero{};
    FetchScheduler plan(c.urls, c.parallel);
    std::vector<std::vector<int>> starts(c.urls.size());
    struct Event {
        std::size_t job;
        bool fetchEnds; // else: the row is done
        Answer answer;
    };
    std::multimap<TimePoint, Event> events;
    TimePoint now = zero;
    for (int guard = 0; guard < 1000 && !plan.done(); ++guard) {
        while (const auto job = plan.next(now)) {
            const auto it = c.answers.find(*job);
            const std::size_t attempt = starts[*job].size();
            const Answer a =
                it != c.answers.end() && attempt < it->second.size() ? it->second[attempt] : Answer{};
            starts[*job].push_back(static_cast<int>((now - zero) / 1ms));
            events.emplace(now + std::chrono::milliseconds(a.durationMs), Event{*job, true, a});
        }
        std::optional<TimePoint> next = plan.full() ? std::nullopt : plan.nextStart();
        if (!events.empty() && (!next || events.begin()->first <= *next)) {
            const auto [at, e] = *events.begin();
            events.erase(events.begin());
            now = at;
            if (!e.fetchEnds) {
                plan.release(e.job);
                continue;
            }
            plan.ended(e.job, now);
            const bool turnedAway = e.answer.status == 429 || e.answer.status == 503;
            std::optional<std::chrono::seconds> after;
            if (e.answer.retryAfterS)
                after = std::chrono::seconds(*e.answer.retryAfterS);
            if (!(turnedAway && plan.retryLater(e.job, now, after)))
                events.emplace(now + 1s, Event{e.job, false, {}});
        } else if (next) {
            now = std::max(now, *next);
        } else {
            ADD_FAILURE() << "stuck with jobs waiting";
            break;
        }
    }
    EXPECT_TRUE(plan.done());
    return starts;
}

TEST(FetchScheduler, StartsEachFetchWhenItsPlaceAndItsHostAllow) {
    const std::vector<std::string> abc = {"http://a.example/1", "http://b.example/1", "http://c.example/1"};
    const Case cases[] = {
        {"one at a time: in order, a second after each fetch", 1, abc, {}, {{0}, {1200}, {2400}}},
        {"two places", 2, abc, {}, {{0}, {0}, {1200}}},
        {"same host waits a second after its last request ended",
         3,
         {"http://a.example/1", "http://a.example/2", "http://b.example/1"},
         {},
         {{0}, {1200}, {0}}},
        {"host by name: case, user and port do not matter",
         2,
         {"http://A.Example:8080/x", "https://u@a.example/y"},
         {},
         {{0}, {1200}}},
        {"a slow host does not hold up the others",
         2,
         {"http://a.example/1", "http://a.example/2", "http://b.example/1", "http://b.example/2"},
         {{0, {{3000, 200, {}}}}},
         {{0}, {4000}, {0}, {1200}}},
        {"429 with Retry-After: that host waits, the place goes on",
         2,
         {"http://a.example/1", "http://b.example/1", "http://c.example/1"},
         {{0, {{200, 429, 5}}}},
         {{0, 5200}, {0}, {200}}},
        {"503 with a Retry-After below the gap waits the gap",
         2,
         {"http://a.example/1"},
         {{0, {{200, 503, 0}}}},
         {{0, 1200}}},
        {"503 without Retry-After is not retried",
         2,
         {"http://a.example/1", "http://a.example/2"},
         {{0, {{200, 503, {}}}}},
         {{0}, {1200}}},
        {"Retry-After over two minutes is not retried",
         2,
         {"http://a.example/1"},
         {{0, {{200, 429, 121}}}},
         {{0}}},
        {"retried once only", 2, {"http://a.example/1"}, {{0, {{200, 429, 2}, {200, 429, 2}}}}, {{0, 2200}}},
        {"one at a time a retry keeps the order",
         1,
         {"http://a.example/1", "http://b.example/1"},
         {{0, {{200, 429, 3}}}},
         {{0, 3200}, {4400}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Simulate(c), c.starts);
    }
}

} // namespace
