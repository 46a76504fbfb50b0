#include "storage/Sqlite.h"

#include "storage/Files.h"
#include "text/SystemReason.h"

#include <sqlite3.h>

namespace storage::sqlite {

namespace {

std::string GermanReason(int code, int systemErrno, const char* message) {
    const std::string system = systemErrno != 0 ? " (" + text::SystemReason(systemErrno) + ")" : std::string();
    switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return "Die Verlaufsdatei ist zu lange von einem anderen Programm gesperrt";
    case SQLITE_FULL:
        return "Kein Speicherplatz mehr auf dem Gerät";
    case SQLITE_READONLY:
        return "Die Verlaufsdatei oder ihr Ordner ist schreibgeschützt" + system;
    case SQLITE_CANTOPEN:
        return "Die Verlaufsdatei konnte nicht geöffnet werden" + system;
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return "Zugriff verweigert";
    case SQLITE_IOERR:
        return "Ein-/Ausgabefehler" + system;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return "Die Verlaufsdatei ist beschädigt";
    case SQLITE_NOMEM:
        return "Nicht genug Arbeitsspeicher";
    default:
        return "SQLite-Fehler " + std::to_string(code) + ": " + (message != nullptr ? message : "");
    }
}

} // namespace

bool SqliteError::corrupt() const {
    return primary() == SQLITE_CORRUPT || primary() == SQLITE_NOTADB;
}

Database::Database(const std::string& path, Mode mode, int busyTimeoutMs) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX |
                      (mode == Mode::OpenOrCreate ? SQLITE_OPEN_CREATE : 0);
    const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        const int code = db_ != nullptr ? sqlite3_extended_errcode(db_) : rc;
        const std::string why = reason(code);
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw SqliteError(code, why);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, busyTimeoutMs);
}

Database::~Database() {
    sqlite3_close_v2(db_);
}

void Database::exec(const char* sql) {
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        fail(rc);
}

std::int64_t Database::lastInsertId() const {
    return sqlite3_last_insert_rowid(db_);
}

std::int64_t Database::changes() const {
    return sqlite3_changes64(db_);
}

std::string Database::reason(int code) const {
    return GermanReason(code, db_ != nullptr ? sqlite3_system_errno(db_) : 0,
                        db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(code));
}

void Database::fail(int code) const {
    const int extended = db_ != nullptr && (code & 0xFF) == (sqlite3_extended_errcode(db_) & 0xFF)
                             ? sqlite3_extended_errcode(db_)
                             : code;
    throw SqliteError(extended, reason(extended));
}

Statement::Statement(Database& db, std::string_view sql) : db_(db) {
    const int rc = sqlite3_prepare_v3(db.handle(), sql.data(), static_cast<int>(sql.size()),
                                      SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
    if (rc != SQLITE_OK)
        db.fail(rc);
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::bind(int index, std::int64_t value) {
    if (const int rc = sqlite3_bind_int64(stmt_, index, value); rc != SQLITE_OK)
        db_.fail(rc);
    return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
    if (const int rc = sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
        rc != SQLITE_OK)
        db_.fail(rc);
    return *this;
}

Statement& Statement::bind(int index, const std::optional<std::int64_t>& value) {
    return value ? bind(index, *value) : bindNull(index);
}

Statement& Statement::bindNull(int index) {
    if (const int rc = sqlite3_bind_null(stmt_, index); rc != SQLITE_OK)
        db_.fail(rc);
    return *this;
}

Statement& Statement::bindOrNull(int index, std::string_view text) {
    return text.empty() ? bindNull(index) : bind(index, text);
}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    sqlite3_reset(stmt_);
    db_.fail(rc);
}

void Statement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

void Statement::run() {
    step();
    reset();
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

std::optional<std::int64_t> Statement::optionalInteger(int column) const {
    if (isNull(column))
        return std::nullopt;
    return integer(column);
}

std::string Statement::text(int column) const {
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    if (data == nullptr)
        return {};
    return std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

Transaction::Transaction(Database& db) : db_(db) {
    db_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (open_)
        sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
    db_.exec("COMMIT");
    open_ = false;
}

} // namespace storage::sqlite
