#pragma once
// The history of every Check and Prüfe in one SQLite file, halmfang.db in the program folder, so
// that a Prüfe can say what changed since the last one. Its faults never cost a command: every
// call returns the fault as a value with a German reason, and the command goes on without history.
// The file never holds the XOVI key or the SEOkicks code.

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace storage {

namespace sqlite {
class Database;
}

inline constexpr const char* kHistoryFileName = "halmfang.db";
inline constexpr int kHistorySchemaVersion = 5;

// A failure of the history with its German reason; empty when there was none.
struct Fault {
    std::string reason;
    explicit operator bool() const { return !reason.empty(); }
};

template <typename T> struct Result {
    T value{};
    Fault fault;
};

// One row of a Prüfe as stored.
struct PageRow {
    std::string url;    // the Link-URL
    std::string status; // gefunden / nicht gefunden / Fehler
    std::int64_t httpStatus = 0; // 0: none known
    std::string finalUrl;
    std::int64_t redirects = 0;
    std::optional<std::int64_t> linkCount;   // unset where the page's links were not read
    std::optional<std::int64_t> followCount; // likewise
    std::string rel;    // of the first link to the domain: "follow" or its tokens
    std::string anchor; // of the first link
    std::string target; // of the first link
    std::string robots;
    std::string reason; // why the fetch failed
    bool onDomain = false; // the page lies on the domain itself (a linking page now leads there)
    // The address rows are matched on across runs (scheme and host in lower case, no default port,
    // "/" for an empty path, as the caller normalises it); empty: the Link-URL itself.
    std::string key;

    bool operator==(const PageRow&) const = default;
};

// What a stored row says about its page.
enum class PageState {
    Seen,        // fetched and its links read
    NotChecked,  // fetched, its links not read (a limit, the worker, links built by script)
    OnDomain,    // it lies on the domain itself
    Blocked,     // refused: HTTP 401, 403, 429 or 503, or a reason that begins with "blockiert"
    Unreachable, // any other failure
};
PageState StateOf(const PageRow& row);

struct CheckRun {
    std::time_t time = 0;
    std::string domain;
    std::string domainKey; // lower-case IDNA form
    std::string service;   // "SEOkicks" or "XOVI"
    std::string limit;     // the max-results text the request carried
    std::vector<std::string> headers;
    std::vector<std::vector<std::string>> rows; // the records as the table shows them; column 1 is the Link-URL
    std::string sourceFile{};                   // the file an imported list ("liste") was read from
};

// A row of an earlier Prüfe with the start of its run.
struct EarlierRow {
    PageRow row;
    std::time_t runTime = 0;
};

// What the finished runs before the previous one say about a page.
struct EarlierPage {
    EarlierRow latest;                  // its most recent row
    std::optional<EarlierRow> lastSeen; // its most recent row whose links were read
    bool unreachableSinceSeen = false;  // a row after lastSeen (or any, without one) found it unreachable
};

// Keys looked up by string_view.
struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
};

// What the earlier finished Prüfe runs of a domain say about the pages of a new one.
struct ComparisonBase {
    bool exists = false;       // there is an earlier finished Prüfe of the domain
    std::time_t previousTime = 0;
    // The rows of the last earlier finished Prüfe as stored, one per key: its first row, or a
    // later one that read the page's links where the first did not.
    std::vector<PageRow> previous;
    // By key, for the pages of the new Prüfe that `previous` lacks or did not read the links of,
    // and for the http/https twins of those it lacks: the runs before it, where they had the page.
    std::unordered_map<std::string, EarlierPage, KeyHash, std::equal_to<>> earlier;
};

// The key of the same address under the other of http and https; empty for any other key.
std::string OtherSchemeKey(std::string_view key);

struct StoredRun {
    std::int64_t id = 0;
    std::time_t time = 0;
    std::string domain;
    bool finished = false;
    std::int64_t rows = 0;
};

// One Prüfe as the run list and the plot show it.
struct RunSummary {
    std::int64_t id = 0;
    std::time_t time = 0;
    bool finished = false;
    std::string service; // of the last Check of the domain before the Prüfe; empty when none
    std::int64_t pages = 0;
    std::int64_t found = 0;
    std::int64_t notFound = 0;
    std::int64_t failed = 0;
    std::int64_t linking = 0;  // pages with at least one link to the domain
    std::int64_t follow = 0;   // links followed
    std::int64_t nofollow = 0; // links not followed

    bool operator==(const RunSummary&) const = default;
};

// One domain of the watch list, which the scheduled run checks when it is due.
struct WatchEntry {
    std::string domain;    // as typed
    std::string domainKey; // lower-case IDNA form; one entry per key
    std::string service;   // "seokicks" or "xovi"
    std::string limit;     // the max-results text
    std::string interval;  // "täglich", "wöchentlich" or "monatlich"
    std::time_t lastRun = 0; // 0: never run
    std::string listPath{};  // service "liste": the file read again at each run

    bool operator==(const WatchEntry&) const = default;
};

class History {
public:
    struct Opened {
        std::unique_ptr<History> history; // null when the file could not be opened
        Fault fault;
        // Set when a damaged file was moved aside and a fresh one started: says so and where.
        std::string notice;
    };

    // Opens or creates <folder>halmfang.db (mode 0600, WAL, foreign keys, 5 s busy time-out) and
    // brings its schema up to date. A file that is no database or a damaged one is renamed to
    // halmfang.db.defekt-<YYYYMMDD-HHMMSS> (local time `now`) and a fresh one is made.
    static Opened Open(const std::string& programFolder, std::time_t now = std::time(nullptr),
                       int busyTimeoutMs = 5000);
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    int schemaVersion() const;

    // One transaction for the run and all its rows.
    Fault StoreCheck(const CheckRun& run);

    // A Prüfe starts unfinished and is never a comparison base until FinishCrossCheck.
    Result<std::int64_t> BeginCrossCheck(std::time_t time, const std::string& domain, const std::string& domainKey);
    // Appends rows numbered from `firstRowNo` in one transaction.
    Fault AddCrossRows(std::int64_t runId, std::int64_t firstRowNo, const std::vector<PageRow>& rows);
    Fault FinishCrossCheck(std::int64_t runId);

    // The base for the stored rows of Prüfe `runId` of `domainKey`, from the finished runs before it.
    // With `baseRunId`, that earlier run stands as the previous one (a comparison of two chosen runs).
    Result<ComparisonBase> LoadBase(const std::string& domainKey, std::int64_t runId,
                                    std::int64_t baseRunId = 0);

    // The Prüfe runs of a domain, oldest first.
    Result<std::vector<StoredRun>> CrossCheckRuns(const std::string& domainKey);
    // The same with their counts, for the run list.
    Result<std::vector<RunSummary>> RunSummaries(const std::string& domainKey);
    // The rows of a Prüfe in the order they were stored.
    Result<std::vector<PageRow>> CrossRows(std::int64_t runId);

    // Keys the rows stored before rows had keys, once, with `keyOf` of their Link-URL; the
    // comparisons need it. Rows stored since then came with their key.
    Fault KeyRows(const std::function<std::string(std::string_view)>& keyOf);

    // Adds the entry, or replaces the one of its domain key (keeping that one's last run).
    Fault SaveWatch(const WatchEntry& entry);
    // Whether there was an entry of the key to remove.
    Result<bool> RemoveWatch(const std::string& domainKey);
    // The list, in the order the domains were added.
    Result<std::vector<WatchEntry>> WatchList();
    Fault SetWatchLastRun(const std::string& domainKey, std::time_t time);

private:
    explicit History(std::unique_ptr<sqlite::Database> db);
    struct Statements;

    std::unique_ptr<sqlite::Database> db_;
    std::unique_ptr<Statements> st_;
};

// The file's path in the program folder.
std::string HistoryPath(const std::string& programFolder);

// Called when Open has found the file damaged, before it moves it aside (tests widen the window
// in which other processes find it damaged too).
std::function<void()>& DamageFoundHook();

} // namespace storage
