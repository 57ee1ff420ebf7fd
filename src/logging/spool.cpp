#include "logging/spool.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "meters/meter_model.h"

namespace quorna {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS file_records(id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL,"
    " model INTEGER NOT NULL, address INTEGER NOT NULL, readings BLOB, attempts INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS database_records(id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL,"
    " model INTEGER NOT NULL, address INTEGER NOT NULL, readings BLOB, attempts INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS pending_append(only INTEGER PRIMARY KEY CHECK (only = 1), path TEXT NOT NULL,"
    " size INTEGER NOT NULL, last_id INTEGER NOT NULL);";

// How long a statement waits for a lock another process holds (a second program on the same
// folder) before it gives up.
constexpr int kBusyTimeoutMs = 2000;

const char* tableOf(Sink sink) { return sink == Sink::File ? "file_records" : "database_records"; }

// A prepared statement that finalizes itself.
class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &m_statement, nullptr) != SQLITE_OK)
            m_statement = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    [[nodiscard]] bool ok() const { return m_statement != nullptr; }
    sqlite3_stmt* get() const { return m_statement; }
    bool bind(int index, std::int64_t value) { return sqlite3_bind_int64(m_statement, index, value) == SQLITE_OK; }
    bool run() {
        const bool done = sqlite3_step(m_statement) == SQLITE_DONE;
        sqlite3_reset(m_statement);
        return done;
    }

private:
    sqlite3_stmt* m_statement = nullptr;
};

// The readings as stored: a Branch meter's 42 currents, or the values of the other models.
std::vector<float> readingsOf(const ReadingsRecord& record) {
    if (record.model == kBranchMeter) return {record.current.begin(), record.current.end()};
    return record.values;
}

RecordPtr recordFrom(sqlite3_stmt* row) {
    auto record = std::make_shared<ReadingsRecord>();
    record->time = static_cast<std::time_t>(sqlite3_column_int64(row, 1));
    record->model = sqlite3_column_int(row, 2);
    record->address = sqlite3_column_int(row, 3);
    const void* blob = sqlite3_column_blob(row, 4);
    const std::size_t count = static_cast<std::size_t>(sqlite3_column_bytes(row, 4)) / sizeof(float);
    std::vector<float> readings(count);
    if (count > 0) std::memcpy(readings.data(), blob, count * sizeof(float));
    if (record->model == kBranchMeter) {
        for (std::size_t i = 0; i < record->current.size() && i < count; ++i) record->current[i] = readings[i];
    } else {
        record->values = std::move(readings);
    }
    return record;
}

}  // namespace

Spool::~Spool() { close(); }

void Spool::close() {
    if (m_db != nullptr) sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool Spool::exec(const char* sql) const { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool Spool::open(const std::string& path) {
    close();
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                                   nullptr);
    m_db = db;
    if (rc != SQLITE_OK) {
        close();
        return false;
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    // Write-ahead logging with a sync at every commit: a committed moment survives a power cut.
    if (!exec("PRAGMA journal_mode=WAL;") || !exec("PRAGMA synchronous=FULL;") || !exec(kSchema) || !recover()) {
        close();
        return false;
    }
    return true;
}

bool Spool::recover() {
    const std::optional<PendingAppend> pending = pendingAppend();
    if (!pending) return true;
    // The block may be in the file whole, in part or not at all: cut it off and write it again.
    if (::truncate(pending->path.c_str(), static_cast<off_t>(pending->size)) != 0 && errno != ENOENT) {
        // The file cannot be cut now (its folder is gone for the moment): keep the note for later.
        struct stat info{};
        if (::stat(pending->path.c_str(), &info) == 0 && info.st_size > pending->size) return true;
    }
    return exec("DELETE FROM pending_append;");
}

bool Spool::append(const std::vector<RecordPtr>& records, bool toFile, bool toDatabase) {
    if (m_db == nullptr) return false;
    if (!exec("BEGIN IMMEDIATE;")) return false;
    bool ok = true;
    for (const Sink sink : {Sink::File, Sink::Database}) {
        if ((sink == Sink::File && !toFile) || (sink == Sink::Database && !toDatabase)) continue;
        Statement insert(m_db, std::string("INSERT INTO ") + tableOf(sink) +
                                   " (time, model, address, readings) VALUES (?, ?, ?, ?);");
        ok = ok && insert.ok();
        for (const RecordPtr& record : records) {
            if (!ok) break;
            if (record->model == 0) continue;  // a meter that did not answer: nothing to log
            if (sink == Sink::File && record->model != kBranchMeter) continue;
            const std::vector<float> readings = readingsOf(*record);
            insert.bind(1, static_cast<std::int64_t>(record->time));
            insert.bind(2, record->model);
            insert.bind(3, record->address);
            sqlite3_bind_blob(insert.get(), 4, readings.data(), static_cast<int>(readings.size() * sizeof(float)),
                              SQLITE_TRANSIENT);
            ok = insert.run();
        }
    }
    if (ok && exec("COMMIT;")) return true;
    exec("ROLLBACK;");
    return false;
}

std::vector<SpooledRecord> Spool::oldest(Sink sink, std::size_t limit, std::int64_t afterId) const {
    std::vector<SpooledRecord> records;
    if (m_db == nullptr) return records;
    Statement select(m_db, std::string("SELECT id, time, model, address, readings, attempts FROM ") + tableOf(sink) +
                               " WHERE id > ? ORDER BY id LIMIT ?;");
    if (!select.ok()) return records;
    select.bind(1, afterId);
    select.bind(2, static_cast<std::int64_t>(limit));
    while (sqlite3_step(select.get()) == SQLITE_ROW) {
        records.push_back({sqlite3_column_int64(select.get(), 0), recordFrom(select.get()),
                           sqlite3_column_int(select.get(), 5)});
    }
    return records;
}

std::size_t Spool::count(Sink sink) const {
    if (m_db == nullptr) return 0;
    Statement select(m_db, std::string("SELECT count(*) FROM ") + tableOf(sink) + ";");
    if (!select.ok() || sqlite3_step(select.get()) != SQLITE_ROW) return 0;
    return static_cast<std::size_t>(sqlite3_column_int64(select.get(), 0));
}

bool Spool::removeThrough(Sink sink, std::int64_t lastId) {
    if (m_db == nullptr) return false;
    Statement remove(m_db, std::string("DELETE FROM ") + tableOf(sink) + " WHERE id <= ?;");
    return remove.ok() && remove.bind(1, lastId) && remove.run();
}

bool Spool::removeOne(Sink sink, std::int64_t id) {
    if (m_db == nullptr) return false;
    Statement remove(m_db, std::string("DELETE FROM ") + tableOf(sink) + " WHERE id = ?;");
    return remove.ok() && remove.bind(1, id) && remove.run();
}

bool Spool::remove(Sink sink, const std::vector<std::int64_t>& ids) {
    if (m_db == nullptr || !exec("BEGIN IMMEDIATE;")) return false;
    Statement remove(m_db, std::string("DELETE FROM ") + tableOf(sink) + " WHERE id = ?;");
    bool ok = remove.ok();
    for (const std::int64_t id : ids) ok = ok && remove.bind(1, id) && remove.run();
    if (ok && exec("COMMIT;")) return true;
    exec("ROLLBACK;");
    return false;
}

bool Spool::removeAll(Sink sink) {
    if (m_db == nullptr) return false;
    return exec((std::string("DELETE FROM ") + tableOf(sink) + ";").c_str());
}

bool Spool::countAttempt(Sink sink, std::int64_t id) {
    if (m_db == nullptr) return false;
    Statement update(m_db, std::string("UPDATE ") + tableOf(sink) + " SET attempts = attempts + 1 WHERE id = ?;");
    return update.ok() && update.bind(1, id) && update.run();
}

bool Spool::notePendingAppend(const PendingAppend& append) {
    if (m_db == nullptr) return false;
    Statement note(m_db, "INSERT OR REPLACE INTO pending_append (only, path, size, last_id) VALUES (1, ?, ?, ?);");
    if (!note.ok()) return false;
    sqlite3_bind_text(note.get(), 1, append.path.c_str(), static_cast<int>(append.path.size()), SQLITE_TRANSIENT);
    note.bind(2, append.size);
    note.bind(3, append.lastId);
    return note.run();
}

bool Spool::finishPendingAppend(std::int64_t lastId) {
    if (m_db == nullptr || !exec("BEGIN IMMEDIATE;")) return false;
    if (removeThrough(Sink::File, lastId) && exec("DELETE FROM pending_append;") && exec("COMMIT;")) return true;
    exec("ROLLBACK;");
    return false;
}

bool Spool::clearPendingAppend() { return m_db != nullptr && exec("DELETE FROM pending_append;"); }

std::optional<PendingAppend> Spool::pendingAppend() const {
    if (m_db == nullptr) return std::nullopt;
    Statement select(m_db, "SELECT path, size, last_id FROM pending_append;");
    if (!select.ok() || sqlite3_step(select.get()) != SQLITE_ROW) return std::nullopt;
    PendingAppend pending;
    pending.path = reinterpret_cast<const char*>(sqlite3_column_text(select.get(), 0));
    pending.size = sqlite3_column_int64(select.get(), 1);
    pending.lastId = sqlite3_column_int64(select.get(), 2);
    return pending;
}

}  // namespace quorna
