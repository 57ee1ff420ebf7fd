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
// name and size and the last id of the block; the rows and the note go together once the block
// is on disk. A note found at start-up means the program stopped in between: the file is cut back
// to the noted size and the block is written again.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "logging/readings_record.h"

struct sqlite3;

namespace quorna {

enum class Sink { File = 0, Database = 1 };

inline constexpr const char* kSpoolFileName = "Quorna-spool.db";

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
};

class Spool {
public:
    Spool() = default;
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // Opens (or creates) the spool file and undoes an append a stop interrupted. False when the
    // file cannot be opened or written; the spool is then closed.
    bool open(const std::string& path);
    void close();
    [[nodiscard]] bool isOpen() const { return m_db != nullptr; }

    // Adds the records of one logging moment in one transaction, in order, to the sinks named.
    // Records without readings are left out, and so are all but Branch meters' for the file.
    bool append(const std::vector<RecordPtr>& records, bool toFile, bool toDatabase);

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

private:
    bool exec(const char* sql) const;
    bool recover();

    sqlite3* m_db = nullptr;
};

}  // namespace quorna
