// The run history file: schema and migration, rows as stored, two writers, damaged files and a
// folder that cannot be written.
#include "storage/History.h"
#include "storage/Sqlite.h"
#include "tests/storage/StorageTestSupport.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace storage_test;
using storage::History;
using storage::PageRow;
namespace fs = std::filesystem;

namespace {

const std::string kKey = "xn--mller-kva.example";

PageRow Row(std::string url, std::string status, std::optional<std::int64_t> links, std::int64_t follow) {
    PageRow row;
    row.url = std::move(url);
    row.status = std::move(status);
    row.linkCount = links;
    row.followCount = links ? std::optional<std::int64_t>(follow) : std::nullopt;
    return row;
}

std::unique_ptr<History> OpenOk(const std::string& folder) {
    History::Opened opened = History::Open(folder);
    EXPECT_FALSE(opened.fault) << opened.fault.reason;
    EXPECT_EQ(opened.notice, "");
    return std::move(opened.history);
}

std::int64_t FinishedRun(History& h, std::time_t time, const std::vector<PageRow>& rows) {
    const auto run = h.BeginCrossCheck(time, "müller.example", kKey);
    EXPECT_FALSE(run.fault) << run.fault.reason;
    EXPECT_FALSE(h.AddCrossRows(run.value, 0, rows)) ;
    EXPECT_FALSE(h.FinishCrossCheck(run.value));
    return run.value;
}

// Runs `body` in a child process without root's right to write anywhere; returns what it printed.
std::string AsUnprivileged(const std::function<std::string()>& body) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return "pipe failed";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        const std::string out = body();
        const ssize_t written = ::write(pipeFds[1], out.data(), out.size());
        ::_exit(written == static_cast<ssize_t>(out.size()) ? 0 : 3);
    }
    ::close(pipeFds[1]);
    std::string out;
    char buffer[512];
    for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<std::size_t>(got));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return out;
}

} // namespace

TEST(History, FreshFileIsPrivateAndAStoredVersionOneFileIsMigratedWithItsRuns) {
    TempFolder fresh;
    {
        auto h = OpenOk(fresh.path());
        ASSERT_TRUE(h);
        EXPECT_EQ(h->schemaVersion(), storage::kHistorySchemaVersion);
        struct stat st {};
        ASSERT_EQ(::stat((fresh / "halmfang.db").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }

    TempFolder old;
    fs::copy_file(DataFile("halmfang_v1.db"), old / "halmfang.db");
    auto h = OpenOk(old.path());
    ASSERT_TRUE(h);
    EXPECT_EQ(h->schemaVersion(), storage::kHistorySchemaVersion);
    // Version 2's row count, filled in for the runs that version 1 stored.
    const auto runs = h->CrossCheckRuns(kKey);
    ASSERT_FALSE(runs.fault);
    ASSERT_EQ(runs.value.size(), 2u);
    EXPECT_TRUE(runs.value[0].finished);
    EXPECT_EQ(runs.value[0].rows, 3);
    EXPECT_FALSE(runs.value[1].finished);
    EXPECT_EQ(runs.value[1].rows, 1);

    // The finished run is the base of a new one; the unfinished later one is not.
    const std::string a = "http://blog.example/a", b = "http://blog.example/b", forum = "http://forum.example/t/1";
    const auto run = h->BeginCrossCheck(1796140000, "müller.example", kKey);
    ASSERT_FALSE(h->AddCrossRows(run.value, 0,
                                 {Row(b, "gefunden", 0, 0), Row("http://neu.example/", "gefunden", 0, 0),
                                  Row(forum, "Fehler", std::nullopt, 0), Row(a, "gefunden", 1, 1)}));
    const auto base = h->LoadBase(kKey, run.value);
    ASSERT_FALSE(base.fault) << base.fault.reason;
    EXPECT_TRUE(base.value.exists);
    EXPECT_EQ(base.value.previousTime, 1796040300);
    PageRow rowA = Row(a, "gefunden", 1, 1);
    rowA.key = a; // rows stored before keys go by their Link-URL until keyed
    rowA.httpStatus = 200;
    rowA.finalUrl = a;
    rowA.rel = "follow";
    rowA.anchor = "Müller";
    rowA.target = "http://müller.example/";
    PageRow rowB = Row(b, "gefunden", 2, 0);
    rowB.key = b;
    rowB.httpStatus = 200;
    rowB.finalUrl = "http://blog.example/b/neu";
    rowB.redirects = 1;
    rowB.rel = "nofollow";
    rowB.anchor = "Shop";
    rowB.target = "http://müller.example/";
    rowB.robots = "noindex (Meta-Robots)";
    PageRow rowForum = Row(forum, "Fehler", std::nullopt, 0);
    rowForum.key = forum;
    rowForum.httpStatus = 403;
    rowForum.reason = "HTTP-Status 403";
    EXPECT_EQ(base.value.previous, (std::vector<PageRow>{rowA, rowB, rowForum}));
    // The forum page, which that run could not fetch, and the new page are in no run before it.
    EXPECT_TRUE(base.value.earlier.empty());
}

// A version-2 file keeps its runs and gains the watch list: entries added (one that reads a list
// file), replaced (keeping their last run), listed in the order added, removed.
TEST(History, AStoredVersionTwoFileGainsTheWatchList) {
    TempFolder old;
    fs::copy_file(DataFile("halmfang_v2.db"), old / "halmfang.db");
    auto h = OpenOk(old.path());
    ASSERT_TRUE(h);
    EXPECT_EQ(h->schemaVersion(), storage::kHistorySchemaVersion);
    const auto runs = h->CrossCheckRuns(kKey);
    ASSERT_FALSE(runs.fault);
    EXPECT_EQ(runs.value.size(), 2u);

    using storage::WatchEntry;
    WatchEntry a{"müller.example", kKey, "seokicks", "100", "wöchentlich", 0};
    WatchEntry b{
        "beispiel.example", "beispiel.example", "liste", "", "täglich", 0, "/home/nutzer/exporte/links.csv"};
    ASSERT_FALSE(h->SaveWatch(a));
    ASSERT_FALSE(h->SaveWatch(b));
    ASSERT_FALSE(h->SetWatchLastRun(kKey, 1796140000));
    a.service = "xovi";
    a.interval = "monatlich";
    ASSERT_FALSE(h->SaveWatch(a));
    a.lastRun = 1796140000;
    auto list = h->WatchList();
    ASSERT_FALSE(list.fault);
    EXPECT_EQ(list.value, (std::vector<WatchEntry>{a, b}));

    EXPECT_TRUE(h->RemoveWatch(kKey).value);
    EXPECT_FALSE(h->RemoveWatch(kKey).value);
    h.reset();
    h = OpenOk(old.path());
    EXPECT_EQ(h->WatchList().value, (std::vector<WatchEntry>{b}));
}

// A version-3 file: the runs stored under "www." and a port join the domain's history, watch-list
// entries that thus meet keep the one already so named; pages on the domain itself are told
// apart by what their row said; the old rows, once keyed, are found under their normalised
// address, also in the runs before the previous one.
TEST(History, AStoredVersionThreeFileJoinsDomainKeysAndKeysItsRows) {
    TempFolder old;
    fs::copy_file(DataFile("halmfang_v3.db"), old / "halmfang.db");
    auto h = OpenOk(old.path());
    ASSERT_TRUE(h);
    EXPECT_EQ(h->schemaVersion(), storage::kHistorySchemaVersion);
    const auto runs = h->RunSummaries(kKey);
    ASSERT_FALSE(runs.fault);
    ASSERT_EQ(runs.value.size(), 3u);
    EXPECT_EQ(runs.value[2].time, 1796100000);
    EXPECT_EQ(runs.value[2].service, "XOVI"); // its Check, stored under the same old key
    using storage::WatchEntry;
    EXPECT_EQ(
        h->WatchList().value,
        (std::vector<WatchEntry>{{"müller.example", kKey, "seokicks", "100", "wöchentlich", 1796040000},
                                 {"shop.example:8080", "shop.example", "seokicks", "100", "monatlich", 0},
                                 {"[::1]:8080", "[::1]", "seokicks", "100", "monatlich", 0},
                                 {"www.de", "www.de", "seokicks", "100", "monatlich", 0}}));

    const std::string a = "http://blog.example/a";
    ASSERT_FALSE(h->KeyRows(
        [&a](std::string_view url) { return url == "HTTP://Blog.Example:80/a" ? a : std::string(url); }));
    const auto run = h->BeginCrossCheck(1796200000, "müller.example", kKey);
    PageRow now = Row(a, "gefunden", 0, 0);
    now.key = a;
    ASSERT_FALSE(h->AddCrossRows(run.value, 0, {now}));
    const auto base = h->LoadBase(kKey, run.value);
    ASSERT_FALSE(base.fault) << base.fault.reason;
    EXPECT_EQ(base.value.previousTime, 1796100000);
    ASSERT_EQ(base.value.previous.size(), 3u);
    EXPECT_EQ(base.value.previous[0].url, "HTTP://Blog.Example:80/a");
    EXPECT_EQ(base.value.previous[0].key, a);
    EXPECT_EQ(storage::StateOf(base.value.previous[0]), storage::PageState::Unreachable);
    EXPECT_EQ(storage::StateOf(base.value.previous[1]), storage::PageState::OnDomain);
    EXPECT_EQ(storage::StateOf(base.value.previous[2]), storage::PageState::NotChecked);
    // Not seen in the previous run: seen in the first, under the address it was stored with.
    ASSERT_EQ(base.value.earlier.count(a), 1u);
    const storage::EarlierPage& page = base.value.earlier.find(a)->second;
    ASSERT_TRUE(page.lastSeen);
    EXPECT_EQ(page.lastSeen->runTime, 1796040300);
    EXPECT_EQ(page.lastSeen->row.anchor, "Müller");
    EXPECT_FALSE(page.unreachableSinceSeen);
    h.reset();
    h = OpenOk(old.path());
    EXPECT_FALSE(h->KeyRows([](std::string_view) -> std::string {
        ADD_FAILURE() << "rows keyed twice";
        return {};
    }));
}

// "Last seen" reaches back past runs that could not fetch the page, did not read its links or
// found it on the domain itself; unfinished runs and other domains never count.
TEST(History, LastSeenSkipsPagesNotSeenAndUnfinishedRuns) {
    TempFolder folder;
    auto h = OpenOk(folder.path());
    ASSERT_TRUE(h);
    const std::string url = "http://a.example/";
    const std::int64_t first = FinishedRun(*h, 1000, {Row(url, "gefunden", 1, 1)});
    FinishedRun(*h, 2000, {Row(url, "Fehler", std::nullopt, 0)});
    PageRow onDomain = Row(url, "gefunden", std::nullopt, 0);
    onDomain.onDomain = true;
    onDomain.redirects = 1;
    onDomain.key = url;
    FinishedRun(*h, 2200, {onDomain});
    FinishedRun(*h, 2500, {Row(url, "gefunden", std::nullopt, 0)}); // links not read
    const auto unfinished = h->BeginCrossCheck(3000, "müller.example", kKey);
    ASSERT_FALSE(h->AddCrossRows(unfinished.value, 0, {Row(url, "gefunden", 0, 0)}));
    const auto other = h->BeginCrossCheck(3500, "other.example", "other.example");
    ASSERT_FALSE(h->AddCrossRows(other.value, 0, {Row(url, "gefunden", 5, 5)}));
    ASSERT_FALSE(h->FinishCrossCheck(other.value));

    const auto now = h->BeginCrossCheck(4000, "müller.example", kKey);
    ASSERT_FALSE(h->AddCrossRows(now.value, 0, {Row(url, "gefunden", 0, 0)}));
    const auto base = h->LoadBase(kKey, now.value);
    ASSERT_FALSE(base.fault);
    EXPECT_EQ(base.value.previousTime, 2500);
    ASSERT_EQ(base.value.earlier.count(url), 1u);
    const storage::EarlierPage& page = base.value.earlier.find(url)->second;
    EXPECT_EQ(page.latest.runTime, 2200);
    EXPECT_EQ(page.latest.row, onDomain);
    ASSERT_TRUE(page.lastSeen);
    EXPECT_EQ(page.lastSeen->runTime, 1000);
    EXPECT_EQ(page.lastSeen->row.linkCount, 1);
    EXPECT_TRUE(page.unreachableSinceSeen);
    EXPECT_FALSE(h->LoadBase(kKey, 1).value.exists); // nothing before the first run
    // A chosen earlier run stands as the previous one; an unfinished one never does.
    const auto chosen = h->LoadBase(kKey, now.value, first);
    EXPECT_EQ(chosen.value.previousTime, 1000);
    ASSERT_EQ(chosen.value.previous.size(), 1u);
    EXPECT_EQ(chosen.value.previous[0].linkCount, 1);
    EXPECT_TRUE(chosen.value.earlier.empty());
    EXPECT_FALSE(h->LoadBase(kKey, now.value, unfinished.value).value.exists);
}

// The run list: each Prüfe of the domain with its counts and the service of the last Check of the
// domain that came before it.
TEST(History, RunListCountsEachPruefeAndNamesTheServiceOfTheCheckBeforeIt) {
    TempFolder folder;
    auto h = OpenOk(folder.path());
    ASSERT_TRUE(h);
    const auto check = [&](std::time_t time, const char* service, const std::string& key) {
        ASSERT_FALSE(h->StoreCheck({time, "müller.example", key, service, "100", {"Nr."}, {}}));
    };
    check(900, "XOVI", kKey);
    check(950, "SEOkicks", "other.example");
    const std::int64_t first = FinishedRun(*h, 1000, {Row("http://a.example/", "gefunden", 3, 1),
                                                      Row("http://b.example/", "nicht gefunden", 0, 0),
                                                      Row("http://c.example/", "Fehler", std::nullopt, 0)});
    check(1500, "SEOkicks", kKey);
    const auto open = h->BeginCrossCheck(2000, "müller.example", kKey);
    ASSERT_FALSE(open.fault);
    const auto runs = h->RunSummaries(kKey);
    ASSERT_FALSE(runs.fault);
    const std::vector<storage::RunSummary> expected = {
        {first, 1000, true, "XOVI", 3, 1, 1, 1, 1, 1, 2}, {open.value, 2000, false, "SEOkicks", 0, 0, 0, 0, 0, 0, 0}};
    EXPECT_EQ(runs.value, expected);
}

// Two windows on one folder both finish and both runs are stored; a lock held longer than the
// busy time-out is a fault, not a wait without end.
TEST(History, TwoConnectionsWriteAtOnceAndALockHeldTooLongIsAFault) {
    TempFolder folder;
    auto first = OpenOk(folder.path());
    auto second = OpenOk(folder.path());
    ASSERT_TRUE(first && second);
    std::vector<PageRow> batch;
    for (int i = 0; i < 2000; ++i)
        batch.push_back(Row("http://seite.example/" + std::to_string(i), "gefunden", 1, 1));
    storage::CheckRun check;
    check.domain = check.domainKey = "a.example";
    check.rows.assign(2000, {"2", "http://seite.example/x", "Anker"});

    std::vector<std::string> faults;
    std::mutex faultsLock;
    const auto note = [&](const storage::Fault& f) {
        if (f) {
            std::lock_guard lock(faultsLock);
            faults.push_back(f.reason);
        }
    };
    std::thread crossCheck([&] {
        const auto run = first->BeginCrossCheck(1, "a.example", "a.example");
        note(run.fault);
        for (int i = 0; i < 10; ++i)
            note(first->AddCrossRows(run.value, i * 2000, batch));
        note(first->FinishCrossCheck(run.value));
    });
    for (int i = 0; i < 10; ++i)
        note(second->StoreCheck(check));
    crossCheck.join();
    EXPECT_EQ(faults, std::vector<std::string>{});
    const auto runs = second->CrossCheckRuns("a.example");
    ASSERT_EQ(runs.value.size(), 1u);
    EXPECT_EQ(runs.value[0].rows, 20000);

    History::Opened impatient = History::Open(folder.path(), std::time(nullptr), 100);
    ASSERT_TRUE(impatient.history);
    storage::sqlite::Database locker(folder / "halmfang.db", storage::sqlite::Database::Mode::OpenExisting, 100);
    storage::sqlite::Transaction held(locker);
    EXPECT_EQ(impatient.history->StoreCheck(check).reason,
              "Die Verlaufsdatei ist zu lange von einem anderen Programm gesperrt");
}

// A damaged file is moved aside under a dated name, a fresh one is started, and the caller is
// told once.
TEST(History, DamagedFileIsMovedAsideAndAFreshOneStarted) {
    const std::string stored = ReadBytes(DataFile("halmfang_v1.db"));
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {{"garbage", std::string(5000, '\x5A')},
                 {"garbage after a valid header", stored.substr(0, 100) + std::string(8000, '\x01')},
                 {"cut short", stored.substr(0, stored.size() / 2 + 100)}};
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        WriteBytes(folder / "halmfang.db", c.bytes);
        History::Opened opened = History::Open(folder.path(), 1796133780);
        EXPECT_FALSE(opened.fault) << opened.fault.reason;
        ASSERT_TRUE(opened.history);
        EXPECT_EQ(opened.notice, "Die Verlaufsdatei war beschädigt. Sie wurde als halmfang.db.defekt-20261201-140300 "
                                 "beiseitegelegt, und ein neuer Verlauf wurde begonnen.");
        EXPECT_EQ(ReadBytes(folder / "halmfang.db.defekt-20261201-140300"), c.bytes);
        EXPECT_EQ(opened.history->schemaVersion(), storage::kHistorySchemaVersion);
        opened.history.reset();
        EXPECT_EQ(History::Open(folder.path()).notice, "");
    }
}

// Processes that find one damaged file at once: the damaged original is kept exactly once, and
// every process's run lands in the one fresh file, none in the file set aside.
TEST(History, DamagedFileFoundByManyProcessesAtOnceIsMovedAsideOnce) {
    const std::string damaged(5000, '\x5A');
    constexpr int kProcesses = 8;
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        TempFolder folder;
        WriteBytes(folder / "halmfang.db", damaged);
        int start[2];
        ASSERT_EQ(::pipe(start), 0);
        std::vector<pid_t> children;
        for (int i = 0; i < kProcesses; ++i) {
            const pid_t child = ::fork();
            if (child == 0) {
                ::close(start[1]);
                char go;
                if (::read(start[0], &go, 1) != 0) // all start when the pipe closes
                    ::_exit(4);
                // Each finds the file damaged before any has moved it aside.
                storage::DamageFoundHook() = [] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                };
                History::Opened opened = History::Open(folder.path(), 1796133780);
                const std::string key = "c" + std::to_string(i) + ".example";
                ::_exit(opened.history && !opened.history->BeginCrossCheck(1796133780, key, key).fault ? 0
                                                                                                       : 1);
            }
            children.push_back(child);
        }
        ::close(start[0]);
        ::close(start[1]);
        for (const pid_t child : children) {
            int status = 0;
            ::waitpid(child, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
        std::vector<std::string> aside;
        for (const std::string& name : FolderEntries(folder.path()))
            if (name.find(".defekt-") != std::string::npos && !name.ends_with("-wal") &&
                !name.ends_with("-shm"))
                aside.push_back(name);
        ASSERT_EQ(aside.size(), 1u) << ::testing::PrintToString(FolderEntries(folder.path()));
        EXPECT_TRUE(ReadBytes(folder / aside.front()) == damaged) << "the damaged original is lost";
        auto h = OpenOk(folder.path());
        ASSERT_TRUE(h);
        for (int i = 0; i < kProcesses; ++i) {
            const std::string key = "c" + std::to_string(i) + ".example";
            EXPECT_EQ(h->CrossCheckRuns(key).value.size(), 1u) << key;
        }
    }
}

// Without the right to write in the folder the history is a fault with its reason; nothing throws
// and nothing is left behind.
TEST(History, FolderThatCannotBeWrittenIsAFaultWithItsReason) {
    const struct {
        const char* name;
        bool fileExists;
        std::string reason;
    } cases[] = {{"new file", false, "Die Verlaufsdatei konnte nicht angelegt werden (Zugriff verweigert)"},
                 {"existing file", true, "Die Verlaufsdatei oder ihr Ordner ist schreibgeschützt"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        if (c.fileExists) {
            fs::copy_file(DataFile("halmfang_v1.db"), folder / "halmfang.db");
            ASSERT_EQ(::chown((folder / "halmfang.db").c_str(), 65534, 65534), 0);
        }
        ::chmod(folder.path().c_str(), 0555);
        const std::vector<std::string> before = FolderEntries(folder.path());
        const std::string reason = AsUnprivileged([&] { return History::Open(folder.path()).fault.reason; });
        EXPECT_EQ(reason.substr(0, c.reason.size()), c.reason) << reason;
        EXPECT_EQ(FolderEntries(folder.path()), before);
        ::chmod(folder.path().c_str(), 0700);
    }
}

// A disk that fills up in the middle of a run costs that run, not the file: it opens undamaged
// afterwards.
TEST(History, FullDiskIsAFaultAndLeavesTheFileSound) {
    TempFolder folder;
    auto h = OpenOk(folder.path());
    ASSERT_TRUE(h);
    storage::CheckRun check;
    check.domain = check.domainKey = "a.example";
    check.rows.assign(20000, {"2", "http://seite.example/ein/langer/pfad", "Ankertext"});
    {
        const FileSizeLimit full(256 * 1024);
        const std::string reason = h->StoreCheck(check).reason;
        EXPECT_EQ(reason.substr(0, 18), "Ein-/Ausgabefehler") << reason;
    }
    h.reset();
    h = OpenOk(folder.path());
    ASSERT_TRUE(h);
    EXPECT_FALSE(h->StoreCheck(check));
}
