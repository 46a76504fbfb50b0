#pragma once
// One run of the Check and, unless left out, the Prüfe for one domain, as the window runs them:
// the same files in the same program folder, the same history.

#include "app/contract/EventSource.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace cli {

// Exit statuses of the commands.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitLoss = 3;

struct RunRequest {
    std::string domain;
    bool xovi = false;
    std::string limit; // empty: the window's starting value
    bool withCrossCheck = true;
    bool browser = true; // pages built with scripts are looked at in a browser (unless browser.txt says no)
    std::string listFile; // a link list read instead of asking a service
};

struct RunOutcome {
    int exitCode = kExitDone;
    std::string error; // the failure's German message (key and code masked)
    std::string summary; // the changes' summary line, or what the Check did
    std::int64_t backlinks = 0;
    std::int64_t checked = 0;
    std::int64_t found = 0;
    std::int64_t notFound = 0;
    std::int64_t failedPages = 0;
    bool compared = false;
    std::vector<std::pair<std::string, std::int64_t>> changes;
    std::vector<std::pair<std::string, std::int64_t>> losses; // the changes that lost a link, told once
    std::int64_t lost = 0;
    std::vector<std::string> reports; // paths of the files written
    std::string changesReport;        // the changes report (.html), empty when none was written
    bool historyFailed = false;
};

// What a run needs from its surroundings.
struct RunContext {
    std::string programFolder;  // ending with '/'
    bool installed = false;     // the folder is the user's data folder, made on demand
    toolkit::EventSource& events;
    const std::atomic<int>& stop; // a signal number once the run is to stop
    bool terminal = false;        // standard error is a terminal
};

// Never throws: failures come back as exit status 1 with the message, a stop as 128 + signal.
RunOutcome RunDomain(const RunRequest& request, RunContext& context);

// The outcome as one JSON object (one line).
std::string OutcomeJson(const RunRequest& request, const RunOutcome& outcome);

} // namespace cli
