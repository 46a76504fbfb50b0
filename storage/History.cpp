#include "storage/History.h"

#include "storage/DamagedFile.h"
#include "storage/Files.h"
#include "storage/Sqlite.h"
#include "text/SystemReason.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <set>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>
#include <utility>

namespace storage {

using sqlite::Database;
using sqlite::SqliteError;
using sqlite::Statement;
using sqlite::Transaction;

namespace {

// Version 1: the runs of both commands and their rows. The addresses of the Prüfe rows are stored
// once in `urls`; a Check row keeps its cells as the table shows them, joined by kCellSeparator.
constexpr const char* kSchemaV1 = R"sql(
CREATE TABLE urls(
  id INTEGER PRIMARY KEY,
  url TEXT NOT NULL UNIQUE);
CREATE TABLE check_runs(
  id INTEGER PRIMARY KEY,
  started INTEGER NOT NULL,
  domain TEXT NOT NULL,
  domain_key TEXT NOT NULL,
  service TEXT NOT NULL,
  result_limit TEXT NOT NULL,
  record_count INTEGER NOT NULL,
  headers TEXT NOT NULL);
CREATE TABLE check_rows(
  run_id INTEGER NOT NULL REFERENCES check_runs(id) ON DELETE CASCADE,
  row_no INTEGER NOT NULL,
  cells TEXT NOT NULL,
  PRIMARY KEY(run_id, row_no)) WITHOUT ROWID;
CREATE TABLE cross_runs(
  id INTEGER PRIMARY KEY,
  started INTEGER NOT NULL,
  domain TEXT NOT NULL,
  domain_key TEXT NOT NULL,
  finished INTEGER NOT NULL DEFAULT 0);
CREATE TABLE cross_rows(
  run_id INTEGER NOT NULL REFERENCES cross_runs(id) ON DELETE CASCADE,
  row_no INTEGER NOT NULL,
  url_id INTEGER NOT NULL REFERENCES urls(id),
  status TEXT NOT NULL,
  http_status INTEGER,
  final_id INTEGER REFERENCES urls(id),
  redirects INTEGER,
  link_count INTEGER,
  follow_count INTEGER,
  rel TEXT,
  anchor TEXT,
  target_id INTEGER REFERENCES urls(id),
  robots TEXT,
  reason TEXT,
  PRIMARY KEY(run_id, row_no)) WITHOUT ROWID;
CREATE INDEX cross_rows_url ON cross_rows(url_id);
)sql";

// Version 2: the row count of each Prüfe for the run list, and the base of a domain found by index.
constexpr const char* kMigrateV1ToV2 = R"sql(
ALTER TABLE cross_runs ADD COLUMN row_count INTEGER NOT NULL DEFAULT 0;
UPDATE cross_runs SET row_count = (SELECT count(*) FROM cross_rows WHERE run_id = cross_runs.id);
CREATE INDEX cross_runs_domain ON cross_runs(domain_key, finished, id);
)sql";

// Version 3: the watch list of the scheduled runs.
constexpr const char* kMigrateV2ToV3 = R"sql(
CREATE TABLE watch_list(
  domain_key TEXT PRIMARY KEY,
  domain TEXT NOT NULL,
  service TEXT NOT NULL,
  result_limit TEXT NOT NULL,
  run_interval TEXT NOT NULL,
  last_run INTEGER);
)sql";

// Version 4: rows are matched across runs on a key, their normalised address, which History::KeyRows
// gives the rows stored before; a page on the domain itself is told apart (the older rows by the
// reason their details line gave it); domain keys lose a port and a leading "www." as the link
// finder's domain does, and watch-list entries that thus meet keep the one already so named.
constexpr const char* kMigrateV3ToV4 = R"sql(
ALTER TABLE cross_rows ADD COLUMN key_id INTEGER REFERENCES urls(id);
ALTER TABLE cross_rows ADD COLUMN on_domain INTEGER;
UPDATE cross_rows SET on_domain = 1 WHERE status <> 'Fehler' AND link_count IS NULL AND
  (reason LIKE 'Seite leitet auf die Domain selbst weiter%' OR reason LIKE 'Seite liegt auf der Domain selbst%');
DROP INDEX cross_rows_url;
CREATE INDEX cross_rows_key ON cross_rows(key_id);
CREATE INDEX cross_rows_unkeyed ON cross_rows(url_id) WHERE key_id IS NULL;

UPDATE cross_runs SET domain_key = substr(domain_key, 1, instr(domain_key, ':') - 1)
  WHERE domain_key NOT LIKE '[%' AND instr(domain_key, ':') > 0;
UPDATE cross_runs SET domain_key = substr(domain_key, 1, instr(domain_key, ']')) WHERE domain_key LIKE '[%]:%';
UPDATE cross_runs SET domain_key = substr(domain_key, 5)
  WHERE domain_key LIKE 'www.%' AND instr(substr(domain_key, 6), '.') > 0;

UPDATE check_runs SET domain_key = substr(domain_key, 1, instr(domain_key, ':') - 1)
  WHERE domain_key NOT LIKE '[%' AND instr(domain_key, ':') > 0;
UPDATE check_runs SET domain_key = substr(domain_key, 1, instr(domain_key, ']')) WHERE domain_key LIKE '[%]:%';
UPDATE check_runs SET domain_key = substr(domain_key, 5)
  WHERE domain_key LIKE 'www.%' AND instr(substr(domain_key, 6), '.') > 0;

UPDATE OR IGNORE watch_list SET domain_key = substr(domain_key, 1, instr(domain_key, ':') - 1)
  WHERE domain_key NOT LIKE '[%' AND instr(domain_key, ':') > 0;
DELETE FROM watch_list WHERE domain_key NOT LIKE '[%' AND instr(domain_key, ':') > 0;
UPDATE OR IGNORE watch_list SET domain_key = substr(domain_key, 1, instr(domain_key, ']'))
  WHERE domain_key LIKE '[%]:%';
DELETE FROM watch_list WHERE domain_key LIKE '[%]:%';
UPDATE OR IGNORE watch_list SET domain_key = substr(domain_key, 5)
  WHERE domain_key LIKE 'www.%' AND instr(substr(domain_key, 6), '.') > 0;
DELETE FROM watch_list WHERE domain_key LIKE 'www.%' AND instr(substr(domain_key, 6), '.') > 0;
)sql";

// Imported lists: the file a Check run read, and the list a watch entry reads at each run.
constexpr const char* kMigrateListFiles = R"sql(
ALTER TABLE check_runs ADD COLUMN source_file TEXT;
ALTER TABLE watch_list ADD COLUMN list_path TEXT;
)sql";

constexpr const char* kMigrations[] = {kSchemaV1, kMigrateV1ToV2, kMigrateV2ToV3, kMigrateV3ToV4,
                                       kMigrateListFiles}; // step i leads to version i + 1
static_assert(std::size(kMigrations) == kHistorySchemaVersion);

constexpr char kCellSeparator = '\x1F'; // the unit separator: no table cell holds it

const std::string kStatusError = "Fehler";

int UserVersion(Database& db) {
    Statement st(db, "PRAGMA user_version");
    st.step();
    return static_cast<int>(st.integer(0));
}

void Migrate(Database& db) {
    if (UserVersion(db) == kHistorySchemaVersion)
        return;
    for (;;) {
        Transaction tx(db); // re-read under the write lock: another window may have migrated
        const int version = UserVersion(db);
        if (version > kHistorySchemaVersion)
            throw SqliteError(SQLITE_READONLY, "Die Verlaufsdatei stammt von einer neueren Programmversion");
        if (version == kHistorySchemaVersion)
            return;
        db.exec(kMigrations[version]);
        db.exec(("PRAGMA user_version = " + std::to_string(version + 1)).c_str());
        tx.commit();
    }
}

// The file made beforehand, so that it is the owner's alone from the start (SQLite gives its
// -wal and -shm files the same mode).
void MakePrivateFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        throw SqliteError(SQLITE_CANTOPEN, "Die Verlaufsdatei konnte nicht angelegt werden (" +
                                               text::SystemReason(errno) + ")");
    ::fchmod(fd, 0600);
    ::close(fd);
}

std::unique_ptr<Database> OpenChecked(const std::string& path, int busyTimeoutMs) {
    MakePrivateFile(path);
    auto db = std::make_unique<Database>(path, Database::Mode::OpenExisting, busyTimeoutMs);
    // Reading the schema fails for a file that is no database. The quick check, which finds a
    // damaged or cut one, reads every page (0.1 s for a year of weekly runs): once per file and
    // program run is enough.
    {
        Statement schema(*db, "SELECT count(*) FROM sqlite_schema");
        schema.step();
    }
    static std::mutex checkedLock;
    static std::set<std::string> checked;
    bool check;
    {
        const std::lock_guard lock(checkedLock);
        check = checked.count(path) == 0;
    }
    if (check) {
        Statement quickCheck(*db, "PRAGMA quick_check(1)");
        if (!quickCheck.step() || quickCheck.text(0) != "ok")
            throw SqliteError(SQLITE_CORRUPT, "Die Verlaufsdatei ist beschädigt");
        const std::lock_guard lock(checkedLock);
        checked.insert(path);
    }
    db->exec("PRAGMA foreign_keys = ON");
    {
        Statement wal(*db, "PRAGMA journal_mode = WAL");
        wal.step();
    }
    // In WAL mode a commit survives a killed process without waiting for the disk.
    db->exec("PRAGMA synchronous = NORMAL");
    // A Check of 100,000 records or the base of a large Prüfe reads and writes tens of MiB:
    // pages cached up to 32 MiB and read through a memory map, not one system call each.
    db->exec("PRAGMA cache_size = -32768");
    db->exec("PRAGMA mmap_size = 268435456");
    Migrate(*db);
    return db;
}

std::string DefectName(std::time_t now) {
    std::tm local{};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return std::string(kHistoryFileName) + ".defekt-" + stamp;
}

void JoinCells(const std::vector<std::string>& cells, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i > 0)
            out += kCellSeparator;
        out += cells[i];
    }
}

template <typename Body> Fault Guarded(Body&& body) {
    try {
        body();
        return {};
    } catch (const SqliteError& e) {
        return {e.what()};
    } catch (const std::bad_alloc&) {
        return {"Nicht genug Arbeitsspeicher"};
    }
}

} // namespace

struct History::Statements {
    explicit Statements(Database& db)
        : findUrl(db, "SELECT id FROM urls WHERE url = ?1"), addUrl(db, "INSERT INTO urls(url) VALUES (?1)"),
          addCrossRow(
              db,
              "INSERT INTO cross_rows(run_id, row_no, url_id, status, http_status, final_id, "
              "redirects, link_count, follow_count, rel, anchor, target_id, robots, reason, key_id, "
              "on_domain) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16)") {}

    Statement findUrl;
    Statement addUrl;
    Statement addCrossRow;

    std::int64_t urlId(Database& db, std::string_view url) {
        findUrl.bind(1, url);
        if (findUrl.step()) {
            const std::int64_t id = findUrl.integer(0);
            findUrl.reset();
            return id;
        }
        findUrl.reset();
        addUrl.bind(1, url).run();
        return db.lastInsertId();
    }
    std::optional<std::int64_t> optionalUrlId(Database& db, std::string_view url) {
        if (url.empty())
            return std::nullopt;
        return urlId(db, url);
    }
    // Without adding it.
    std::optional<std::int64_t> knownUrlId(std::string_view url) {
        findUrl.bind(1, url);
        std::optional<std::int64_t> id;
        if (findUrl.step())
            id = findUrl.integer(0);
        findUrl.reset();
        return id;
    }
};

// Columns 0..14 of a row selected by kRowColumns. The final address, the link target and the key
// are read by id through UrlTexts: they repeat (the Link-URL itself, the few targets on the domain).
constexpr const char* kRowColumns =
    "u.url, r.status, r.http_status, r.final_id, r.redirects, r.link_count, r.follow_count, r.rel, r.anchor, "
    "r.target_id, r.robots, r.reason, r.url_id, coalesce(r.key_id, r.url_id), r.on_domain";
constexpr const char* kRowJoins = " JOIN urls u ON u.id = r.url_id ";

// Addresses by id, each looked up once.
class UrlTexts {
public:
    explicit UrlTexts(Database& db) : find_(db, "SELECT url FROM urls WHERE id = ?1") {}
    std::string text(const std::optional<std::int64_t>& id) {
        if (!id)
            return {};
        const auto it = cache_.find(*id);
        if (it != cache_.end())
            return it->second;
        find_.bind(1, *id);
        std::string url = find_.step() ? find_.text(0) : std::string();
        find_.reset();
        return cache_.emplace(*id, std::move(url)).first->second;
    }

private:
    Statement find_;
    std::unordered_map<std::int64_t, std::string> cache_;
};

namespace {

// The kRowColumns starting at column `first`.
PageRow ReadRow(const Statement& st, UrlTexts& urls, int first = 0) {
    PageRow row;
    row.url = st.text(first);
    row.status = st.text(first + 1);
    row.httpStatus = st.optionalInteger(first + 2).value_or(0);
    const std::optional<std::int64_t> finalId = st.optionalInteger(first + 3);
    row.finalUrl = finalId && *finalId == st.integer(first + 12) ? row.url : urls.text(finalId);
    row.redirects = st.optionalInteger(first + 4).value_or(0);
    row.linkCount = st.optionalInteger(first + 5);
    row.followCount = st.optionalInteger(first + 6);
    row.rel = st.text(first + 7);
    row.anchor = st.text(first + 8);
    row.target = urls.text(st.optionalInteger(first + 9));
    row.robots = st.text(first + 10);
    row.reason = st.text(first + 11);
    const std::int64_t keyId = st.integer(first + 13);
    row.key = keyId == st.integer(first + 12) ? row.url : urls.text(keyId);
    row.onDomain = st.optionalInteger(first + 14).value_or(0) != 0;
    return row;
}

// The state of a row selected by kRowColumns from column `first`, without reading all of it.
PageState StateOfColumns(const Statement& st, int first) {
    PageRow row;
    row.status = st.text(first + 1);
    row.httpStatus = st.optionalInteger(first + 2).value_or(0);
    row.linkCount = st.optionalInteger(first + 5);
    row.reason = st.text(first + 11);
    row.onDomain = st.optionalInteger(first + 14).value_or(0) != 0;
    return StateOf(row);
}

} // namespace

PageState StateOf(const PageRow& row) {
    if (row.status == kStatusError) {
        const std::int64_t http = row.httpStatus;
        return http == 401 || http == 403 || http == 429 || http == 503 || row.reason.starts_with("blockiert")
                   ? PageState::Blocked
                   : PageState::Unreachable;
    }
    if (row.onDomain)
        return PageState::OnDomain;
    return row.linkCount ? PageState::Seen : PageState::NotChecked;
}

std::string OtherSchemeKey(std::string_view key) {
    if (key.starts_with("http://"))
        return "https://" + std::string(key.substr(7));
    if (key.starts_with("https://"))
        return "http://" + std::string(key.substr(8));
    return {};
}

std::function<void()>& DamageFoundHook() {
    static std::function<void()> hook;
    return hook;
}

std::string HistoryPath(const std::string& programFolder) {
    return ProgramPath(programFolder, std::string("\\") + kHistoryFileName);
}

History::History(std::unique_ptr<Database> db) : db_(std::move(db)), st_(std::make_unique<Statements>(*db_)) {}

History::~History() = default;

History::Opened History::Open(const std::string& programFolder, std::time_t now, int busyTimeoutMs) {
    Opened opened;
    const std::string path = HistoryPath(programFolder);
    const auto open = [&] {
        std::unique_ptr<Database> db = OpenChecked(path, busyTimeoutMs);
        opened.history.reset(new History(std::move(db)));
    };
    // Another process may find the same file damaged and replace it with a fresh one meanwhile:
    // only the file that failed the check is moved aside, never the one that took its place.
    for (int attempt = 0, busy = 0;; ++attempt) {
        const std::optional<FileIdentity> checked = IdentityOf(path);
        const auto started = std::chrono::steady_clock::now();
        try {
            open();
            return opened;
        } catch (const SqliteError& e) {
            // SQLite answers "busy" at once, without waiting, where waiting could deadlock: two
            // processes that set up a fresh file together. Another try a moment later succeeds.
            if (e.primary() == SQLITE_BUSY && ++busy < 20 &&
                std::chrono::steady_clock::now() - started < std::chrono::milliseconds(busyTimeoutMs / 2)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10 + 10 * busy));
                --attempt;
                continue;
            }
            if (!e.corrupt() || attempt == 3) {
                opened.fault = {e.what()};
                return opened;
            }
        } catch (const std::bad_alloc&) {
            opened.fault = {"Nicht genug Arbeitsspeicher"};
            return opened;
        }
        if (DamageFoundHook())
            DamageFoundHook()();
        if (!checked || IdentityOf(path) != checked)
            continue;
        // Damaged: kept for a closer look, never silently replaced.
        const std::optional<std::string> aside =
            MoveDamagedAside(path, *checked, DefectName(now), opened.fault.reason);
        if (opened.fault)
            return opened;
        if (!aside)
            continue; // moved by another process: its fresh file is ours too
        opened.notice = "Die Verlaufsdatei war beschädigt. Sie wurde als " + *aside +
                        " beiseitegelegt, und ein neuer Verlauf wurde begonnen.";
    }
}

int History::schemaVersion() const {
    return UserVersion(*db_);
}

Fault History::StoreCheck(const CheckRun& run) {
    return Guarded([&] {
        std::string headers;
        JoinCells(run.headers, headers);
        Transaction tx(*db_);
        Statement addRun(*db_, "INSERT INTO check_runs(started, domain, domain_key, service, result_limit, "
                               "record_count, headers, source_file) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
        addRun.bind(1, static_cast<std::int64_t>(run.time))
            .bind(2, run.domain)
            .bind(3, run.domainKey)
            .bind(4, run.service)
            .bind(5, run.limit)
            .bind(6, static_cast<std::int64_t>(run.rows.size()))
            .bind(7, headers)
            .bindOrNull(8, run.sourceFile)
            .run();
        const std::int64_t runId = db_->lastInsertId();
        Statement addRow(*db_, "INSERT INTO check_rows(run_id, row_no, cells) VALUES (?1, ?2, ?3)");
        std::int64_t rowNo = 0;
        std::string joined;
        for (const std::vector<std::string>& cells : run.rows) {
            JoinCells(cells, joined);
            addRow.bind(1, runId).bind(2, rowNo++).bind(3, joined).run();
        }
        tx.commit();
    });
}

Result<std::int64_t> History::BeginCrossCheck(std::time_t time, const std::string& domain,
                                              const std::string& domainKey) {
    Result<std::int64_t> result;
    result.fault = Guarded([&] {
        Statement add(*db_, "INSERT INTO cross_runs(started, domain, domain_key) VALUES (?1, ?2, ?3)");
        add.bind(1, static_cast<std::int64_t>(time)).bind(2, domain).bind(3, domainKey).run();
        result.value = db_->lastInsertId();
    });
    return result;
}

Fault History::AddCrossRows(std::int64_t runId, std::int64_t firstRowNo, const std::vector<PageRow>& rows) {
    return Guarded([&] {
        Transaction tx(*db_);
        Statement& add = st_->addCrossRow;
        std::int64_t rowNo = firstRowNo;
        for (const PageRow& row : rows) {
            const std::int64_t urlId = st_->urlId(*db_, row.url);
            add.bind(1, runId).bind(2, rowNo++).bind(3, urlId).bind(4, row.status);
            if (row.httpStatus != 0)
                add.bind(5, row.httpStatus);
            add.bind(6, st_->optionalUrlId(*db_, row.finalUrl));
            if (row.redirects != 0)
                add.bind(7, row.redirects);
            add.bind(8, row.linkCount).bind(9, row.followCount);
            add.bindOrNull(10, row.rel).bindOrNull(11, row.anchor);
            add.bind(12, st_->optionalUrlId(*db_, row.target));
            add.bindOrNull(13, row.robots).bindOrNull(14, row.reason);
            add.bind(15, row.key.empty() || row.key == row.url ? urlId : st_->urlId(*db_, row.key));
            if (row.onDomain)
                add.bind(16, std::int64_t{1});
            add.run();
        }
        tx.commit();
    });
}

Fault History::FinishCrossCheck(std::int64_t runId) {
    return Guarded([&] {
        Statement finish(*db_, "UPDATE cross_runs SET finished = 1, "
                               "row_count = (SELECT count(*) FROM cross_rows WHERE run_id = ?1) WHERE id = ?1");
        finish.bind(1, runId).run();
    });
}

Result<ComparisonBase> History::LoadBase(const std::string& domainKey, std::int64_t runId,
                                         std::int64_t baseRunId) {
    Result<ComparisonBase> result;
    ComparisonBase& base = result.value;
    result.fault = Guarded([&] {
        // One read transaction: a window finishing a run meanwhile does not change the picture.
        db_->exec("BEGIN");
        struct EndRead {
            Database& db;
            ~EndRead() { sqlite3_exec(db.handle(), "COMMIT", nullptr, nullptr, nullptr); }
        } endRead{*db_};

        Statement last(*db_, "SELECT id, started, row_count FROM cross_runs WHERE domain_key = ?1 AND "
                             "finished = 1 AND id < ?2 AND (?3 = 0 OR id = ?3) ORDER BY id DESC LIMIT 1");
        last.bind(1, domainKey).bind(2, runId).bind(3, baseRunId);
        if (!last.step())
            return;
        base.exists = true;
        const std::int64_t previousId = last.integer(0);
        base.previousTime = static_cast<std::time_t>(last.integer(1));
        base.previous.reserve(static_cast<std::size_t>(last.integer(2)));

        // Rows are matched by the id of their key, which is cheaper to look up than its text.
        Statement rows(*db_, std::string("SELECT ") + kRowColumns + " FROM cross_rows r" + kRowJoins +
                                 "WHERE r.run_id = ?1 ORDER BY r.row_no");
        rows.bind(1, previousId);
        UrlTexts texts(*db_);
        std::unordered_map<std::int64_t, std::size_t> previousById;
        previousById.reserve(base.previous.capacity());
        while (rows.step()) {
            const auto [at, added] = previousById.emplace(rows.integer(13), base.previous.size());
            if (added)
                base.previous.push_back(ReadRow(rows, texts));
            else if (StateOf(base.previous[at->second]) != PageState::Seen)
                if (PageRow row = ReadRow(rows, texts); StateOf(row) == PageState::Seen)
                    base.previous[at->second] = std::move(row);
        }

        // Only the pages that run lacked or did not see need the runs before it.
        Statement earlier(*db_, std::string("SELECT ru.started, ") + kRowColumns +
                                    " FROM cross_rows r JOIN cross_runs ru ON ru.id = r.run_id" + kRowJoins +
                                    "WHERE r.key_id = ?1 AND ru.domain_key = ?2 AND ru.finished = 1 AND "
                                    "ru.id < ?3 ORDER BY ru.id DESC, r.row_no");
        std::unordered_set<std::int64_t> lookedUp;
        const auto lookUp = [&](std::int64_t keyId) {
            const auto at = previousById.find(keyId);
            if ((at != previousById.end() && StateOf(base.previous[at->second]) == PageState::Seen) ||
                !lookedUp.insert(keyId).second)
                return;
            earlier.bind(1, keyId).bind(2, domainKey).bind(3, previousId);
            std::optional<EarlierPage> page;
            while (earlier.step()) {
                const PageState state = StateOfColumns(earlier, 1);
                if (!page || state == PageState::Seen) {
                    EarlierRow row{ReadRow(earlier, texts, 1), static_cast<std::time_t>(earlier.integer(0))};
                    if (!page)
                        page.emplace().latest = row;
                    if (state == PageState::Seen) {
                        page->lastSeen = std::move(row);
                        break;
                    }
                }
                page->unreachableSinceSeen = page->unreachableSinceSeen || state == PageState::Unreachable;
            }
            earlier.reset();
            if (page)
                base.earlier.emplace(texts.text(keyId), std::move(*page));
        };

        Statement current(*db_, "SELECT coalesce(key_id, url_id) FROM cross_rows WHERE run_id = ?1");
        current.bind(1, runId);
        std::vector<std::int64_t> currentIds;
        while (current.step())
            currentIds.push_back(current.integer(0));
        std::unordered_set<std::int64_t> listedNow; // built when needed
        for (const std::int64_t keyId : currentIds) {
            lookUp(keyId);
            if (previousById.count(keyId) != 0)
                continue;
            // A page new under its key may be known under its http/https twin, unless the new
            // run lists that too.
            const std::string other = OtherSchemeKey(texts.text(keyId));
            const std::optional<std::int64_t> otherId = other.empty() ? std::nullopt : st_->knownUrlId(other);
            if (!otherId)
                continue;
            if (listedNow.empty())
                listedNow.insert(currentIds.begin(), currentIds.end());
            if (listedNow.count(*otherId) == 0)
                lookUp(*otherId);
        }
    });
    if (result.fault)
        result.value = {};
    return result;
}

Result<std::vector<StoredRun>> History::CrossCheckRuns(const std::string& domainKey) {
    Result<std::vector<StoredRun>> result;
    result.fault = Guarded([&] {
        Statement st(*db_, "SELECT id, started, domain, finished, row_count FROM cross_runs "
                           "WHERE domain_key = ?1 ORDER BY id");
        st.bind(1, domainKey);
        while (st.step())
            result.value.push_back({st.integer(0), static_cast<std::time_t>(st.integer(1)), st.text(2),
                                    st.integer(3) != 0, st.integer(4)});
    });
    return result;
}

Result<std::vector<RunSummary>> History::RunSummaries(const std::string& domainKey) {
    Result<std::vector<RunSummary>> result;
    result.fault = Guarded([&] {
        Statement st(*db_,
                     "SELECT r.id, r.started, r.finished, "
                     "(SELECT c.service FROM check_runs c WHERE c.domain_key = r.domain_key AND "
                     "c.started <= r.started ORDER BY c.id DESC LIMIT 1), "
                     "count(x.row_no), total(x.status = 'gefunden'), total(x.status = 'nicht gefunden'), "
                     "total(x.status = 'Fehler'), total(x.link_count > 0), total(x.follow_count), "
                     "total(x.link_count - x.follow_count) "
                     "FROM cross_runs r LEFT JOIN cross_rows x ON x.run_id = r.id "
                     "WHERE r.domain_key = ?1 GROUP BY r.id ORDER BY r.id");
        st.bind(1, domainKey);
        while (st.step()) {
            RunSummary run;
            run.id = st.integer(0);
            run.time = static_cast<std::time_t>(st.integer(1));
            run.finished = st.integer(2) != 0;
            run.service = st.text(3);
            run.pages = st.integer(4);
            run.found = st.integer(5);
            run.notFound = st.integer(6);
            run.failed = st.integer(7);
            run.linking = st.integer(8);
            run.follow = st.integer(9);
            run.nofollow = st.integer(10);
            result.value.push_back(std::move(run));
        }
    });
    return result;
}

Fault History::SaveWatch(const WatchEntry& e) {
    return Guarded([&] {
        Statement st(
            *db_,
            "INSERT INTO watch_list(domain_key, domain, service, result_limit, run_interval, list_path) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT(domain_key) DO UPDATE SET "
            "domain = excluded.domain, service = excluded.service, "
            "result_limit = excluded.result_limit, run_interval = excluded.run_interval, "
            "list_path = excluded.list_path");
        st.bind(1, e.domainKey).bind(2, e.domain).bind(3, e.service).bind(4, e.limit).bind(5, e.interval);
        st.bindOrNull(6, e.listPath).run();
    });
}

Result<bool> History::RemoveWatch(const std::string& domainKey) {
    Result<bool> result;
    result.fault = Guarded([&] {
        Statement st(*db_, "DELETE FROM watch_list WHERE domain_key = ?1");
        st.bind(1, domainKey).run();
        result.value = db_->changes() > 0;
    });
    return result;
}

Result<std::vector<PageRow>> History::CrossRows(std::int64_t runId) {
    Result<std::vector<PageRow>> result;
    result.fault = Guarded([&] {
        Statement rows(*db_, std::string("SELECT ") + kRowColumns + " FROM cross_rows r" + kRowJoins +
                                 "WHERE r.run_id = ?1 ORDER BY r.row_no");
        rows.bind(1, runId);
        UrlTexts texts(*db_);
        while (rows.step())
            result.value.push_back(ReadRow(rows, texts));
    });
    if (result.fault)
        result.value.clear();
    return result;
}

Fault History::KeyRows(const std::function<std::string(std::string_view)>& keyOf) {
    return Guarded([&] {
        std::vector<std::pair<std::int64_t, std::string>> unkeyed;
        {
            Statement find(*db_,
                           "SELECT DISTINCT r.url_id, u.url FROM cross_rows r JOIN urls u ON u.id = r.url_id "
                           "WHERE r.key_id IS NULL");
            while (find.step())
                unkeyed.emplace_back(find.integer(0), find.text(1));
        }
        if (unkeyed.empty())
            return;
        Transaction tx(*db_);
        Statement setKey(*db_, "UPDATE cross_rows SET key_id = ?1 WHERE url_id = ?2 AND key_id IS NULL");
        for (const auto& [urlId, url] : unkeyed) {
            const std::string key = keyOf(url);
            setKey.bind(1, key.empty() || key == url ? urlId : st_->urlId(*db_, key)).bind(2, urlId).run();
        }
        tx.commit();
    });
}

Result<std::vector<WatchEntry>> History::WatchList() {
    Result<std::vector<WatchEntry>> result;
    result.fault = Guarded([&] {
        Statement st(*db_,
                     "SELECT domain, domain_key, service, result_limit, run_interval, last_run, list_path "
                     "FROM watch_list ORDER BY rowid");
        while (st.step())
            result.value.push_back({st.text(0), st.text(1), st.text(2), st.text(3), st.text(4),
                                    static_cast<std::time_t>(st.optionalInteger(5).value_or(0)), st.text(6)});
    });
    return result;
}

Fault History::SetWatchLastRun(const std::string& domainKey, std::time_t time) {
    return Guarded([&] {
        Statement st(*db_, "UPDATE watch_list SET last_run = ?2 WHERE domain_key = ?1");
        st.bind(1, domainKey).bind(2, static_cast<std::int64_t>(time)).run();
    });
}

} // namespace storage
