#pragma once
// A thin RAII layer over SQLite's C API: a connection, prepared statements and transactions.
// Failures throw SqliteError, which carries SQLite's result code and a German reason.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace storage::sqlite {

class SqliteError : public std::runtime_error {
public:
    SqliteError(int code, const std::string& reason) : std::runtime_error(reason), code_(code) {}
    int code() const { return code_; } // the extended result code
    int primary() const { return code_ & 0xFF; }
    // The file is not a database, or a damaged one.
    bool corrupt() const;

private:
    int code_;
};

class Database {
public:
    enum class Mode { OpenOrCreate, OpenExisting };
    // Opens `path`; the busy time-out applies to every lock the connection waits for.
    Database(const std::string& path, Mode mode, int busyTimeoutMs);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void exec(const char* sql);
    sqlite3* handle() const { return db_; }
    std::int64_t lastInsertId() const;
    // Rows changed by the last INSERT, UPDATE or DELETE.
    std::int64_t changes() const;
    // A German reason for the connection's last failure with result code `code`.
    std::string reason(int code) const;
    [[noreturn]] void fail(int code) const;

private:
    sqlite3* db_ = nullptr;
};

class Statement {
public:
    Statement(Database& db, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Parameters count from 1. An empty optional binds NULL. Text is read in place, not copied:
    // it must stay until the statement has stepped (a temporary within the same full expression
    // as run() does).
    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, std::string_view text);
    Statement& bind(int index, const std::optional<std::int64_t>& value);
    Statement& bindNull(int index);
    // Empty text as NULL: columns where "nothing" is the usual value stay small.
    Statement& bindOrNull(int index, std::string_view text);

    // True while a row is there to read.
    bool step();
    void reset(); // also clears the bindings
    // step() + reset() for a statement that returns no rows.
    void run();

    std::int64_t integer(int column) const;
    std::optional<std::int64_t> optionalInteger(int column) const;
    std::string text(int column) const; // NULL reads as ""
    bool isNull(int column) const;

private:
    Database& db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// BEGIN IMMEDIATE on construction (so that a waiting writer waits at the start, within the busy
// time-out, not at its first write); ROLLBACK on destruction unless committed.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    Database& db_;
    bool open_ = true;
};

} // namespace storage::sqlite
