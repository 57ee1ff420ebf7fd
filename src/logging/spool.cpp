#include "logging/spool.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
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
    " size INTEGER NOT NULL, last_id INTEGER NOT NULL, device INTEGER, inode INTEGER);";

// What a row of a readings table must be to be logged: a time from 1980 to 2100, an address of the
// bus, and the readings of its model (42 currents of a Branch meter; 1, 2 or 3 values of a
// Temperature, Energy-Only or Full-Data meter; the values of a Circuit meter).
constexpr const char* kSaneRow =
    "(typeof(time) = 'integer' AND time BETWEEN 315532800 AND 4102444800 AND address BETWEEN 1 AND 247"
    " AND typeof(readings) = 'blob' AND ((model = 230 AND length(readings) = 168) OR (model = 600 AND length(readings) = 4)"
    " OR (model = 8035 AND length(readings) = 8) OR (model = 8036 AND length(readings) = 12)"
    " OR (model IN (235, 236) AND length(readings) BETWEEN 4 AND 1024 AND length(readings) % 4 = 0)))";

std::string baseName(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool exists(const std::string& path) {
    struct stat info{};
    return ::lstat(path.c_str(), &info) == 0;
}

// A name beside `path` for a file set aside: "<path>.<kind>-YYYYMMDD-HHMMSS", "-2" and on if taken.
std::string asideName(const std::string& path, const char* kind) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = path + "." + kind + "-" + stamp;
    std::string name = base;
    for (int n = 2; exists(name) || exists(name + "-wal"); ++n) name = base + "-" + std::to_string(n);
    return name;
}

// Moves the spool file and its write-ahead log and index aside together. The new name, or empty
// when the spool file could not be moved.
std::string moveAside(const std::string& path) {
    const std::string aside = asideName(path, "damaged");
    if (::rename(path.c_str(), aside.c_str()) != 0 && errno != ENOENT) return {};
    for (const char* suffix : {"-wal", "-shm"}) (void)::rename((path + suffix).c_str(), (aside + suffix).c_str());
    return aside;
}

// Whether the folder of a file is there.
bool folderExists(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    struct stat info{};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// How long a statement waits for a lock another process holds (a second program on the same
// folder) before it gives up.
constexpr int kBusyTimeoutMs = 2000;
// The pages the write-ahead log gathers before a commit carries them back into the file (4 KB each).
constexpr const char* kCheckpointPragma = "PRAGMA wal_autocheckpoint=200;";

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
    bool bind(int index, const std::string& text) {
        return sqlite3_bind_text(m_statement, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT) == SQLITE_OK;
    }
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

std::string spoolFileNameFor(const std::string& settingsFile) {
    std::string name = baseName(settingsFile);
    const std::string::size_type dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    if (name.empty()) name = "Quorna";
    return name + "-spool.db";
}

Spool::~Spool() {
    close();
    if (m_lockFd >= 0) ::close(m_lockFd);
}

void Spool::close() {
    if (m_db != nullptr) sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool Spool::exec(const char* sql) const { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool Spool::committed() {
    // A statement outside a transaction commits by itself.
    if (afterCommit && sqlite3_get_autocommit(m_db) != 0) afterCommit();
    return true;
}

bool Spool::commit() {
    if (!exec("COMMIT;")) return false;
    if (afterCommit) afterCommit();
    return true;
}

SpoolLock Spool::lock(const std::string& path) {
    const std::string lockPath = path + ".lock";
    if (m_lockFd >= 0 && lockPath == m_lockPath) return SpoolLock::Held;
    if (m_lockFd >= 0) ::close(m_lockFd);
    m_lockFd = -1;
    m_lockPath.clear();
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) return SpoolLock::Failed;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        return busy ? SpoolLock::Busy : SpoolLock::Failed;
    }
    m_lockFd = fd;
    m_lockPath = lockPath;
    return SpoolLock::Held;
}

std::vector<std::string> Spool::takeNotices() {
    std::vector<std::string> notices;
    notices.swap(m_notices);
    return notices;
}

std::optional<Spool::Check> Spool::checkAhead(const std::string& path) {
    struct stat info{};
    if (::stat(path.c_str(), &info) != 0 || info.st_size == 0) return std::nullopt;
    sqlite3* db = nullptr;
    // Read-only: the check never writes the file or carries its write-ahead log back.
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return std::nullopt;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    std::optional<Check> check = Check{};
    {
        Statement quick(db, "PRAGMA quick_check;");
        const int step = quick.ok() ? sqlite3_step(quick.get()) : SQLITE_ERROR;
        const unsigned char* verdict = step == SQLITE_ROW ? sqlite3_column_text(quick.get(), 0) : nullptr;
        if (step != SQLITE_ROW) {
            check.reset();
        } else {
            check->intact = verdict != nullptr && std::strcmp(reinterpret_cast<const char*>(verdict), "ok") == 0;
        }
    }
    for (const Sink sink : {Sink::File, Sink::Database}) {
        if (!check || !check->intact) break;
        Statement select(db, std::string("SELECT count(*) FROM ") + tableOf(sink) + " WHERE NOT " + kSaneRow + ";");
        if (!select.ok() || sqlite3_step(select.get()) != SQLITE_ROW) {
            check.reset();  // no such table yet, or unreadable: open looks for itself
            break;
        }
        check->badRows += static_cast<std::size_t>(sqlite3_column_int64(select.get(), 0));
    }
    sqlite3_close_v2(db);
    return check;
}

Spool::OpenResult Spool::openFile(const std::string& path, const std::optional<Check>& checked) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                                   nullptr);
    m_db = db;
    const auto failed = [this](int code) {
        close();
        code &= 0xff;
        return code == SQLITE_CORRUPT || code == SQLITE_NOTADB ? OpenResult::Damaged : OpenResult::Failed;
    };
    if (rc != SQLITE_OK) return failed(rc);
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    // Write-ahead logging with a sync at every commit: a committed moment survives a power cut.
    if (!exec("PRAGMA journal_mode=WAL;") || !exec("PRAGMA synchronous=FULL;")) return failed(sqlite3_errcode(m_db));
    // The write-ahead log goes back into the file at small steps: a commit that carries it back
    // (copying and syncing its pages) must not hold the window much longer than a slice's block.
    (void)exec(kCheckpointPragma);
    if (checked && !checked->intact) return failed(SQLITE_CORRUPT);
    if (!checked) {
        Statement check(m_db, "PRAGMA quick_check;");
        if (!check.ok()) return failed(sqlite3_errcode(m_db));
        const int step = sqlite3_step(check.get());
        if (step != SQLITE_ROW) return failed(sqlite3_errcode(m_db));
        const unsigned char* verdict = sqlite3_column_text(check.get(), 0);
        if (verdict == nullptr || std::strcmp(reinterpret_cast<const char*>(verdict), "ok") != 0) {
            sqlite3_reset(check.get());
            return failed(SQLITE_CORRUPT);
        }
    }
    if (!exec(kSchema)) return failed(sqlite3_errcode(m_db));
    // A spool of an older version noted neither the device nor the inode of the log file.
    Statement columns(m_db, "SELECT count(*) FROM pragma_table_info('pending_append') WHERE name = 'device';");
    if (!columns.ok() || sqlite3_step(columns.get()) != SQLITE_ROW) return failed(sqlite3_errcode(m_db));
    const bool hasDevice = sqlite3_column_int(columns.get(), 0) > 0;
    sqlite3_reset(columns.get());
    if (!hasDevice &&
        !exec("ALTER TABLE pending_append ADD COLUMN device INTEGER; ALTER TABLE pending_append ADD COLUMN inode INTEGER;"))
        return failed(sqlite3_errcode(m_db));
    return OpenResult::Ok;
}

bool Spool::open(const std::string& path) { return open(path, std::nullopt); }

bool Spool::open(const std::string& path, const std::optional<Check>& checked) {
    close();
    m_busy = false;
    const SpoolLock held = lock(path);
    if (held != SpoolLock::Held) {
        m_busy = held == SpoolLock::Busy;
        return false;
    }
    m_path = path;
    std::string aside;
    // A write-ahead log beside a missing or empty spool file is not this spool's: replayed into a
    // fresh one it would stand in for records it never held.
    struct stat info{};
    if (exists(path + "-wal") && (::stat(path.c_str(), &info) != 0 || info.st_size == 0)) {
        aside = moveAside(path);
        if (aside.empty()) return false;
    }
    // A check made ahead stands for the file only as it was then: not once a log was moved aside.
    const std::optional<Check> ahead = aside.empty() ? checked : std::nullopt;
    OpenResult result = openFile(path, ahead);
    if (result == OpenResult::Damaged && aside.empty()) {
        aside = moveAside(path);
        if (aside.empty()) return false;
        result = openFile(path, std::nullopt);
    }
    if (result != OpenResult::Ok) {
        close();
        return false;
    }
    if (!aside.empty()) {
        const std::size_t taken = takeOver(aside);
        m_notices.push_back("The spool file \"" + baseName(path) + "\" was damaged\nIt was moved aside as \"" +
                            baseName(aside) + "\" and a new spool started with the " + std::to_string(taken) +
                            (taken == 1 ? " record" : " records") + " that could still be read");
    }
    setAsideBadRows(aside.empty() ? ahead : std::nullopt);
    return true;
}

std::size_t Spool::takeOver(const std::string& asidePath) {
    sqlite3* old = nullptr;
    if (sqlite3_open_v2(asidePath.c_str(), &old, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(old);
        return 0;
    }
    std::size_t taken = 0;
    if (!exec("BEGIN IMMEDIATE;")) {
        sqlite3_close_v2(old);
        return 0;
    }
    std::map<std::int64_t, std::int64_t> fileIds;  // the old file rows' ids and their new ones
    bool ok = true;
    for (const Sink sink : {Sink::File, Sink::Database}) {
        Statement select(old, std::string("SELECT id, time, model, address, readings, attempts FROM ") + tableOf(sink) + ";");
        Statement insert(m_db, std::string("INSERT INTO ") + tableOf(sink) +
                                   " (time, model, address, readings, attempts) VALUES (?, ?, ?, ?, ?);");
        if (!select.ok() || !insert.ok()) continue;
        // Rows are read up to the first that cannot be; what was read is kept.
        while (ok && sqlite3_step(select.get()) == SQLITE_ROW) {
            for (int column = 1; column <= 5; ++column) {
                sqlite3_bind_value(insert.get(), column, sqlite3_column_value(select.get(), column));
            }
            ok = insert.run();
            if (!ok) break;
            ++taken;
            if (sink == Sink::File) fileIds[sqlite3_column_int64(select.get(), 0)] = sqlite3_last_insert_rowid(m_db);
        }
    }
    // The note of an unfinished append goes along, naming the new id of its block's last row.
    for (const char* sql : {"SELECT path, size, last_id, device, inode FROM pending_append;",
                            "SELECT path, size, last_id, -1, -1 FROM pending_append;"}) {
        Statement select(old, sql);
        if (!select.ok()) continue;
        if (ok && sqlite3_step(select.get()) == SQLITE_ROW && sqlite3_column_type(select.get(), 0) == SQLITE_TEXT) {
            PendingAppend note;
            note.path = reinterpret_cast<const char*>(sqlite3_column_text(select.get(), 0));
            note.size = sqlite3_column_int64(select.get(), 1);
            const auto last = fileIds.upper_bound(sqlite3_column_int64(select.get(), 2));
            note.lastId = last == fileIds.begin() ? 0 : std::prev(last)->second;
            note.device = sqlite3_column_type(select.get(), 3) == SQLITE_NULL ? -1 : sqlite3_column_int64(select.get(), 3);
            note.inode = sqlite3_column_type(select.get(), 4) == SQLITE_NULL ? -1 : sqlite3_column_int64(select.get(), 4);
            ok = notePendingAppend(note);
        }
        break;
    }
    sqlite3_close_v2(old);
    if (ok && commit()) return taken;
    exec("ROLLBACK;");
    return 0;
}

// Runs `sql` (statements naming "aside." and "main." tables) in one transaction with the file
// asidePath attached as "aside", made for it.
bool Spool::moveAsideWith(const std::string& asidePath, const std::string& sql) {
    Statement attach(m_db, "ATTACH DATABASE ? AS aside;");
    if (!attach.ok() || !attach.bind(1, asidePath) || !attach.run()) return false;
    bool ok = exec("BEGIN IMMEDIATE;");
    if (ok) {
        ok = exec(sql.c_str()) && commit();
        if (!ok) exec("ROLLBACK;");
    }
    exec("DETACH DATABASE aside;");
    return ok;
}

void Spool::setAsideBadRows(const std::optional<Check>& checked) {
    if (checked && checked->badRows == 0) return;
    std::size_t bad = 0;
    for (const Sink sink : {Sink::File, Sink::Database}) {
        Statement select(m_db, std::string("SELECT count(*) FROM ") + tableOf(sink) + " WHERE NOT " + kSaneRow + ";");
        if (select.ok() && sqlite3_step(select.get()) == SQLITE_ROW) bad += static_cast<std::size_t>(sqlite3_column_int64(select.get(), 0));
    }
    if (bad == 0) return;
    const std::string aside = asideName(m_path, "set-aside");
    std::string sql;
    for (const Sink sink : {Sink::File, Sink::Database}) {
        const std::string table = tableOf(sink);
        sql += "CREATE TABLE IF NOT EXISTS aside." + table + " AS SELECT * FROM main." + table + " WHERE 0;" +
               "INSERT INTO aside." + table + " SELECT * FROM main." + table + " WHERE NOT " + kSaneRow + ";" +
               "DELETE FROM main." + table + " WHERE NOT " + kSaneRow + ";";
    }
    if (!moveAsideWith(aside, sql)) return;
    m_notices.push_back(std::to_string(bad) + (bad == 1 ? " record" : " records") + " of the spool file \"" +
                        baseName(m_path) + "\" could not be readings\n" + (bad == 1 ? "It was" : "They were") +
                        " set aside in \"" + baseName(aside) + "\" and will not be logged");
}

bool Spool::append(const std::vector<RecordPtr>& records, bool toFile, bool toDatabase) {
    const std::vector<RecordPtr> none;
    return append(toFile ? records : none, toDatabase ? records : none);
}

bool Spool::append(const std::vector<RecordPtr>& fileRecords, const std::vector<RecordPtr>& databaseRecords) {
    if (m_db == nullptr) return false;
    if (!exec("BEGIN IMMEDIATE;")) return false;
    bool ok = true;
    for (const Sink sink : {Sink::File, Sink::Database}) {
        const std::vector<RecordPtr>& records = sink == Sink::File ? fileRecords : databaseRecords;
        if (records.empty()) continue;
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
    if (ok && commit()) return true;
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
    return remove.ok() && remove.bind(1, lastId) && remove.run() && committed();
}

bool Spool::removeOne(Sink sink, std::int64_t id) {
    if (m_db == nullptr) return false;
    Statement remove(m_db, std::string("DELETE FROM ") + tableOf(sink) + " WHERE id = ?;");
    return remove.ok() && remove.bind(1, id) && remove.run() && committed();
}

bool Spool::remove(Sink sink, const std::vector<std::int64_t>& ids) {
    if (m_db == nullptr || !exec("BEGIN IMMEDIATE;")) return false;
    Statement remove(m_db, std::string("DELETE FROM ") + tableOf(sink) + " WHERE id = ?;");
    bool ok = remove.ok();
    for (const std::int64_t id : ids) ok = ok && remove.bind(1, id) && remove.run();
    if (ok && commit()) return true;
    exec("ROLLBACK;");
    return false;
}

bool Spool::removeAll(Sink sink) {
    if (m_db == nullptr) return false;
    return exec((std::string("DELETE FROM ") + tableOf(sink) + ";").c_str()) && committed();
}

bool Spool::countAttempt(Sink sink, std::int64_t id) {
    if (m_db == nullptr) return false;
    Statement update(m_db, std::string("UPDATE ") + tableOf(sink) + " SET attempts = attempts + 1 WHERE id = ?;");
    return update.ok() && update.bind(1, id) && update.run() && committed();
}

bool Spool::notePendingAppend(const PendingAppend& append) {
    if (m_db == nullptr) return false;
    Statement note(m_db, "INSERT OR REPLACE INTO pending_append (only, path, size, last_id, device, inode)"
                         " VALUES (1, ?, ?, ?, ?, ?);");
    if (!note.ok()) return false;
    note.bind(1, append.path);
    note.bind(2, append.size);
    note.bind(3, append.lastId);
    if (append.device >= 0) note.bind(4, append.device);
    if (append.inode >= 0) note.bind(5, append.inode);
    return note.run() && committed();
}

bool Spool::finishPendingAppend(std::int64_t lastId) {
    if (m_db == nullptr || !exec("BEGIN IMMEDIATE;")) return false;
    if (removeThrough(Sink::File, lastId) && exec("DELETE FROM pending_append;") && commit()) return true;
    exec("ROLLBACK;");
    return false;
}

bool Spool::clearPendingAppend() { return m_db != nullptr && exec("DELETE FROM pending_append;") && committed(); }

std::optional<PendingAppend> Spool::pendingAppend() const {
    if (m_db == nullptr) return std::nullopt;
    Statement select(m_db, "SELECT path, size, last_id, device, inode FROM pending_append;");
    if (!select.ok() || sqlite3_step(select.get()) != SQLITE_ROW) return std::nullopt;
    PendingAppend pending;
    const unsigned char* path = sqlite3_column_text(select.get(), 0);
    pending.path = path == nullptr ? std::string() : reinterpret_cast<const char*>(path);
    pending.size = sqlite3_column_int64(select.get(), 1);
    pending.lastId = sqlite3_column_int64(select.get(), 2);
    if (sqlite3_column_type(select.get(), 3) != SQLITE_NULL) pending.device = sqlite3_column_int64(select.get(), 3);
    if (sqlite3_column_type(select.get(), 4) != SQLITE_NULL) pending.inode = sqlite3_column_int64(select.get(), 4);
    return pending;
}

bool Spool::settlePendingAppend(const std::string& logPath) {
    const std::optional<PendingAppend> pending = pendingAppend();
    if (!pending) return true;
    if (pending->path != logPath) {
        // Not the file logged to now: the note must cut no file.
        const std::string aside = asideName(m_path, "set-aside");
        if (!moveAsideWith(aside, "CREATE TABLE IF NOT EXISTS aside.pending_append AS SELECT * FROM main.pending_append WHERE 0;"
                                  "INSERT INTO aside.pending_append SELECT * FROM main.pending_append;"
                                  "DELETE FROM main.pending_append;"))
            return false;
        m_notices.push_back("The spool file \"" + baseName(m_path) + "\" noted an unfinished append to another file (" +
                            pending->path + ")\nThe note was set aside in \"" + baseName(aside) + "\" and no file was cut");
        return true;
    }
    // The block may be in the file whole, in part or not at all: cut it off, and it is written again.
    const int fd = ::open(pending->path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        // Removed or rotated away while the folder is there: none of the block is in a file to
        // be written, so the block goes to the file made now. A folder away keeps the note.
        if (errno == ENOENT && folderExists(pending->path)) return clearPendingAppend();
        return false;
    }
    struct stat info{};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return false;
    }
    const bool noted = pending->device < 0 || (static_cast<std::int64_t>(info.st_dev) == pending->device &&
                                               static_cast<std::int64_t>(info.st_ino) == pending->inode);
    // Another file (a rotation made it) or a shorter one holds none of the block: it is left as it is.
    if (noted && info.st_size >= pending->size &&
        (::ftruncate(fd, static_cast<off_t>(pending->size)) != 0 || ::fsync(fd) != 0)) {
        ::close(fd);
        return false;
    }
    ::close(fd);
    return clearPendingAppend();
}

}  // namespace quorna
