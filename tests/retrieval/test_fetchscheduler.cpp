// The scheduler on a fake clock: every row's fetch takes its time, its row is done a second after
// the fetch ended (the wait), and each case lists when each job's fetches started. A row with a
// transient failure goes to the second pass; a row in `robots` asks for its host's robots.txt
// after its wait (once per host), keeping its place until that request, which takes 200 ms, ends.
#include "retrieval/FetchScheduler.h"

#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

using retrieval::FetchScheduler;
using namespace std::chrono_literals;

namespace {

struct Answer {
    int durationMs = 200;
    int status = 200;                 // 0: a time-out
    std::optional<int> retryAfterS{}; // 429/503 only
};

struct Case {
    const char* name;
    int parallel;
    std::vector<std::string> urls;
    std::map<std::size_t, std::vector<Answer>> answers; // per job and attempt; 200 after 200 ms otherwise
    std::vector<std::vector<int>> starts;               // ms, per job (rows, then robots.txt requests)
    std::set<std::size_t> robots{};
};

bool AgainAtEnd(const Answer& a) {
    return a.status == 0 || ((a.status == 500 || (a.status >= 502 && a.status <= 504)) && !a.retryAfterS);
}

std::vector<std::vector<int>> Simulate(const Case& c) {
    using TimePoint = FetchScheduler::TimePoint;
    const TimePoint zero{};
    FetchScheduler plan(c.urls, c.parallel);
    std::vector<std::vector<int>> starts(c.urls.size());
    enum class Kind { FetchEnds, RowDone, RequestEnds };
    struct Event {
        std::size_t job;
        Kind kind;
        Answer answer;
    };
    std::multimap<TimePoint, Event> events;
    std::map<std::string, std::size_t> requestOf;            // by host
    std::map<std::size_t, std::vector<std::size_t>> waiters; // rows waiting for a request, by request
    std::set<std::size_t> answered;                          // requests that ended
    TimePoint now = zero;
    for (int guard = 0; guard < 1000 && !plan.done(); ++guard) {
        while (const auto job = plan.next(now)) {
            starts.resize(std::max(starts.size(), *job + 1));
            starts[*job].push_back(static_cast<int>((now - zero) / 1ms));
            if (plan.isRequest(*job)) {
                events.emplace(now + 200ms, Event{*job, Kind::RequestEnds, {}});
                continue;
            }
            const auto it = c.answers.find(*job);
            const std::size_t attempt = starts[*job].size() - 1;
            const Answer a =
                it != c.answers.end() && attempt < it->second.size() ? it->second[attempt] : Answer{};
            events.emplace(now + std::chrono::milliseconds(a.durationMs), Event{*job, Kind::FetchEnds, a});
        }
        std::optional<TimePoint> next = plan.nextStart();
        if (!events.empty() && (!next || events.begin()->first <= *next)) {
            const auto [at, e] = *events.begin();
            events.erase(events.begin());
            now = at;
            if (e.kind == Kind::RequestEnds) {
                plan.ended(e.job, now);
                answered.insert(e.job);
                for (const std::size_t row : waiters[e.job])
                    plan.release(row);
                continue;
            }
            if (e.kind == Kind::RowDone) {
                if (AgainAtEnd(e.answer) && plan.retryAtEnd(e.job))
                    continue;
                if (c.robots.count(e.job) > 0) {
                    const std::string host = retrieval::HostOf(c.urls[e.job]);
                    if (requestOf.count(host) == 0)
                        requestOf[host] = plan.addRequest(c.urls[e.job]);
                    if (answered.count(requestOf[host]) == 0) {
                        waiters[requestOf[host]].push_back(e.job);
                        continue;
                    }
                }
                plan.release(e.job);
                continue;
            }
            plan.ended(e.job, now);
            const bool turnedAway = e.answer.status == 429 || e.answer.status == 503;
            std::optional<std::chrono::seconds> after;
            if (e.answer.retryAfterS)
                after = std::chrono::seconds(*e.answer.retryAfterS);
            if (!(turnedAway && plan.retryLater(e.job, now, after)))
                events.emplace(now + 1s, Event{e.job, Kind::RowDone, e.answer});
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
        {"503 without Retry-After waits for the second pass",
         2,
         {"http://a.example/1", "http://a.example/2"},
         {{0, {{200, 503, {}}}}},
         {{0, 2400}, {1200}}},
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

// A failure that may pass is asked once more after every other row, under the same rules; no
// page more than twice. A robots.txt request waits only for its host, before that host's rows.
TEST(FetchScheduler, SecondPassAndRobotsRequestsKeepPlacesAndHosts) {
    const Answer timeout{200, 0};
    const std::vector<std::string> abc = {"http://a.example/1", "http://b.example/1", "http://c.example/1"};
    const Case cases[] = {
        {"after every other row, side by side", 2, abc, {{0, {timeout}}}, {{0, 2400}, {0}, {1200}}},
        {"one at a time: in order after the last row",
         1,
         abc,
         {{0, {timeout}}, {1, {{200, 502}}}},
         {{0, 3600}, {1200, 4800}, {2400}}},
        {"a second failure stands", 2, {"http://a.example/1"}, {{0, {timeout, timeout}}}, {{0, 1200}}},
        {"asked again after Retry-After: not once more at the end",
         2,
         {"http://a.example/1"},
         {{0, {{200, 503, 2}, {200, 503}}}},
         {{0, 2200}}},
        {"second pass keeps the host's second",
         2,
         {"http://a.example/1", "http://a.example/2"},
         {{0, {timeout}}},
         {{0, 2400}, {1200}}},
        {"robots.txt goes before the host's next row",
         2,
         {"http://a.example/1", "http://a.example/2", "http://b.example/1"},
         {},
         {{0}, {2400}, {0}, {1200}},
         {0}},
        {"robots.txt once per host, also one at a time",
         1,
         {"http://a.example/1", "http://a.example/2"},
         {},
         {{0}, {2400}, {1200}},
         {0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Simulate(c), c.starts);
    }
}

} // namespace
