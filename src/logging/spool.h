#pragma once
// The records waiting for the log file and for the database, kept on disk in "Quorna-spool.db"
// beside the settings file, so that a crash, a power cut or a restart loses none of them.
//
// The spool is an SQLite database in write-ahead-log mode with full synchronisation: a record is
// in it once the logging moment that made it has committed, and it leaves only when its line is
// in the log file or its row is committed in the database. Each sink has its own rows, oldest
// first by a rising id; a record meant for both sinks is stored once for each.
//
// The log file is written exactly once: before a block is appended, the spool notes the file's
// name, device, inode and size and the last id of the block; the rows and the note go together
// once the block is on disk. A note still there at the next append means the program stopped in
// between: the file is cut back to the noted size when it is the file the note was taken on
// (same device and inode, at least the noted size) and the block is written again; a file that
// was rotated or removed meanwhile is left as it is and the block goes to the file there now; a
// file that cannot be reached (its folder away) keeps the note until it can.
//
// One process uses a spool at a time: it holds an exclusive lock (flock) on "<spool>.lock" beside
// it as long as the Spool object lives. A spool that fails SQLite's quick check at opening, or a
// "-wal" beside a spool file that is missing or empty, is moved aside as
// "<spool>.damaged-YYYYMMDD-HHMMSS" (with its "-wal"), never deleted; a fresh spool starts with
// every record still readable from the old one. Rows that cannot be a reading (a readings blob of
// the wrong size for the model, a time or an address out of range) and a note that names another
// file than the settings' log file go to "<spool>.set-aside-YYYYMMDD-HHMMSS" instead of being
// logged or used to cut a file. Each of these is told once (takeNotices).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "logging/readings_record.h"

struct sqlite3;

namespace quorna {

enum class Sink { File = 0, Database = 1 };

inline constexpr const char* kSpoolFileName = "Quorna-spool.db";

// The spool's file name for a settings file: its name without the last extension, then
// "-spool.db" ("Quorna.cfg" keeps "Quorna-spool.db", "a.cfg" gives "a-spool.db", "plant" gives
// "plant-spool.db"), so that two settings files in one folder have spools of their own.
[[nodiscard]] std::string spoolFileNameFor(const std::string& settingsFile);

// A record as the spool keeps it.
struct SpooledRecord {
    std::int64_t id = 0;
    RecordPtr record;
    int attempts = 0;  // failed tries so far (the database's refusals)
};

// The append that was under way when the program stopped.
struct PendingAppend {
    std::string path;
    std::int64_t size = 0;
    std::int64_t lastId = 0;
    // The file the size was taken on; -1 in a note of an older version, which noted neither.
    std::int64_t device = -1;
    std::int64_t inode = -1;
};

// How taking the spool's lock went.
enum class SpoolLock { Held, Busy, Failed };

class Spool {
public:
    Spool() = default;
    ~Spool();  // lets the lock go
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // Takes the spool's lock (if not held yet), then opens (or creates) the spool file, checking
    // it as said above. False when the lock is another process's (busy() tells), or the file
    // cannot be opened or written; the spool is then closed. The lock stays held after close().
    bool open(const std::string& path);
    // What open checks of an existing spool file (the whole file is read: a long spool takes its
    // time), made ahead on a connection of its own, so that it may run on another thread while
    // the spool is closed. Empty when the file could not be read so: open then checks it itself.
    struct Check {
        bool intact = true;        // SQLite's quick check found nothing wrong
        std::size_t badRows = 0;   // rows that cannot be readings
    };
    [[nodiscard]] static std::optional<Check> checkAhead(const std::string& path);
    // open, with the checks of the file made ahead by checkAhead.
    bool open(const std::string& path, const std::optional<Check>& checked);
    void close();
    [[nodiscard]] bool isOpen() const { return m_db != nullptr; }
    // Whether the last open failed because another process holds the spool.
    [[nodiscard]] bool busy() const { return m_busy; }
    // Takes the exclusive lock of the spool at `path` for as long as this object lives (a lock
    // held on another path is let go). Busy: another process holds it.
    SpoolLock lock(const std::string& path);

    // Adds the records of one logging moment in one transaction, in order, to the sinks named.
    // Records without readings are left out, and so are all but Branch meters' for the file.
    bool append(const std::vector<RecordPtr>& records, bool toFile, bool toDatabase);
    // The same with each sink's records of the moment: one transaction for both.
    bool append(const std::vector<RecordPtr>& fileRecords, const std::vector<RecordPtr>& databaseRecords);

    // Up to `limit` of a sink's records, oldest first, from the id after `afterId`.
    [[nodiscard]] std::vector<SpooledRecord> oldest(Sink sink, std::size_t limit, std::int64_t afterId = 0) const;
    [[nodiscard]] std::size_t count(Sink sink) const;

    // Removes a sink's records up to and including lastId (the block or moment just written).
    bool removeThrough(Sink sink, std::int64_t lastId);
    bool removeOne(Sink sink, std::int64_t id);
    bool remove(Sink sink, const std::vector<std::int64_t>& ids);  // in one transaction
    bool removeAll(Sink sink);
    // Counts one more failed try of a record.
    bool countAttempt(Sink sink, std::int64_t id);

    // The note of an append to the log file (see above).
    bool notePendingAppend(const PendingAppend& append);
    // Removes the file's records through the noted last id and the note, in one transaction.
    bool finishPendingAppend(std::int64_t lastId);
    bool clearPendingAppend();
    [[nodiscard]] std::optional<PendingAppend> pendingAppend() const;
    // Undoes the append a stop interrupted, before the next one to the log file at logPath (see
    // above). True when no note is left; false while the noted file cannot be reached or cut.
    bool settlePendingAppend(const std::string& logPath);

    // What the spool has to tell the operator since it was last asked (a damaged spool moved
    // aside, records set aside), each once.
    [[nodiscard]] std::vector<std::string> takeNotices();

    // Runs after each commit of the spool; empty normally. A fault test kills the process there.
    std::function<void()> afterCommit;

private:
    enum class OpenResult { Ok, Damaged, Failed };
    bool exec(const char* sql) const;
    bool commit();  // COMMIT, then afterCommit
    OpenResult openFile(const std::string& path, const std::optional<Check>& checked);
    std::size_t takeOver(const std::string& asidePath);
    void setAsideBadRows(const std::optional<Check>& checked);
    bool moveAsideWith(const std::string& asidePath, const std::string& sql);
    bool committed();

    sqlite3* m_db = nullptr;
    std::string m_path;
    std::string m_lockPath;
    int m_lockFd = -1;
    bool m_busy = false;
    std::vector<std::string> m_notices;
};

}  // namespace quorna
