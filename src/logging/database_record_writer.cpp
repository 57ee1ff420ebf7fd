#include "logging/database_record_writer.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <future>
#include <memory>

#include "logging/odbc_library.h"
#include "logging/variable_table.h"

namespace quorna {
namespace {

// What the writer's steps work on: the logging's parts, handed over by DatabaseRecordWriter.
struct WriterParts {
    Operator& op;
    ConfigurationRecord& settings;
    Spool& spool;
    RecordQueue& databaseQueue;
    std::vector<std::int64_t>& refusedAtThisMoment;
    bool& rejectionShown;  // a refused record went to the rejected file in this run
    bool& databaseBehind;
    std::shared_ptr<PendingConnect>& databaseConnecting;
    const std::string& stateDirectory;
};

constexpr SessionFailureTexts kWriterSessionTexts{"Error alloc connection", "Error connecting", "Error alloc stmt"};

// A Temperature meter's reading goes to this variable (Amps27).
constexpr int kTemperatureVariable = kFirstAmpsVariable + 26;

bool isTextType(std::int16_t t) { return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR; }

bool isNumericType(std::int16_t t) {
    return t == SQL_NUMERIC || t == SQL_DECIMAL || t == SQL_INTEGER || t == SQL_SMALLINT || t == SQL_FLOAT ||
           t == SQL_REAL || t == SQL_DOUBLE || t == SQL_BIGINT;
}

std::string quoted(const std::string& text) {
    std::string literal = "'";
    for (char c : text) {
        literal += c;
        if (c == '\'') literal += '\'';
    }
    literal += '\'';
    return literal;
}

// The value a record holds for a current variable, if it holds one.
std::optional<float> currentValue(int variable, const ReadingsRecord& record) {
    const int n = variable - kFirstAmpsVariable;  // 0 for Amps1
    if (n < 0) return std::nullopt;
    if (record.model == kBranchMeter) return n < static_cast<int>(record.current.size()) ? std::optional(record.current[n]) : std::nullopt;
    if (record.model == kTemperatureMeter) {
        if (variable == kTemperatureVariable && !record.values.empty()) return record.values[0];
        return std::nullopt;
    }
    if (n < static_cast<int>(record.values.size())) return record.values[n];
    return std::nullopt;
}

std::string formatTime(std::time_t time, const char* format) {
    std::tm local{};
    localtime_r(&time, &local);
    char text[64];
    if (std::strftime(text, sizeof text, format, &local) == 0) return "NULL";
    return text;
}

// One row of an INSERT: the linked columns the record's model includes, in link-list order, and
// their literals. Both the one-row statement and a list of rows are made of these.
struct RowText {
    std::string columns;  // "Meter, Location"
    std::string values;   // "1, 'Here'"
};

std::optional<RowText> rowText(const ReadingsRecord& record, const DatabaseSettings& settings,
                               const std::string& locationName, DateLiterals dates) {
    RowText row;
    for (const ColumnLink& link : settings.links) {
        if (!variableIncluded(record.model, link.variable)) continue;
        if (!row.columns.empty()) {
            row.columns += ", ";
            row.values += ", ";
        }
        row.columns += link.columnName;
        row.values += formatValue(link.variable, record, link.sqlType, locationName, dates);
    }
    if (row.columns.empty()) return std::nullopt;
    return row;
}

// Without the ODBC library or an environment nothing can be written in this run: database
// logging ends and its settings are cleared as for a new database. What waits for the database
// stays in the spool for a run that has the library; only the operator's discards drop it.
void switchOffSilently(WriterParts& logging) {
    ConfigurationRecord& config = logging.settings;
    config.databaseLogging = DatabaseLoggingState::Off;
    config.database.clear();
}

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

// Tries of a record the database refuses for its data (SQLSTATE class 22) or a constraint
// (class 23) before it is put aside.
constexpr int kRefusalsBeforeRejecting = 3;
// Records read from the spool at a time: more than one moment of 63 meters.
constexpr std::size_t kSpoolBatchRecords = 256;
// Records read from the spool at a time for lists of rows: a few lists' worth.
constexpr std::size_t kSpoolListRecords = 2 * kRowsPerList;
// The rows of a connection's first list, before its pace is known.
constexpr std::size_t kFirstListRows = 64;
// The share of what is left of a slice that a list is sized to fill: the database's pace varies.
constexpr double kSliceShare = 0.75;

// The SQLite driver reports a broken constraint only by SQLite's own code (19, SQLITE_CONSTRAINT)
// under the general SQLSTATE (HY000, S1000 as ODBC 2 names it); it counts as class 23.
constexpr long kSqliteConstraint = 19;

bool refusedForGood(const StatementError& error) {
    if (error.state.compare(0, 2, "22") == 0 || error.state.compare(0, 2, "23") == 0) return true;
    return (error.state == "HY000" || error.state == "S1000") && error.nativeError == kSqliteConstraint && error.text.find("[SQLite]") != std::string::npos;
}

// Appends a refused record's statement and the driver's message to the rejected records' file.
bool writeRejected(const WriterParts& logging, const ReadingsRecord& record, const std::string& statement,
                   const std::string& message) {
    const std::string path = logging.stateDirectory + kRejectedFileName;
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) return false;
    const std::string when = formatTime(record.time, "%m/%d/%Y %H:%M:%S");
    const int n = std::fprintf(file, "%s  meter %d\n%s\n%s\n\n", when.c_str(), record.address, statement.c_str(),
                               message.c_str());
    const bool flushed = std::fflush(file) == 0 && ::fsync(fileno(file)) == 0;
    return (std::fclose(file) == 0) && n > 0 && flushed;
}

// The writer's transactions: the connection leaves auto-commit when the driver manager can; each
// moment's rows are then committed together.
class Transactions {
public:
    explicit Transactions(OdbcSession& session) : m_session(session) {
        OdbcLibrary& lib = odbcLibrary();
        m_on = lib.SQLSetConnectOption != nullptr && lib.SQLTransact != nullptr &&
               odbcSucceeded(lib.SQLSetConnectOption(session.connection(), SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF));
    }
    // Back to auto-commit, for the statements of records kept in memory.
    ~Transactions() {
        if (m_on) (void)odbcLibrary().SQLSetConnectOption(m_session.connection(), SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON);
    }
    Transactions(const Transactions&) = delete;
    Transactions& operator=(const Transactions&) = delete;
    [[nodiscard]] bool on() const { return m_on; }
    SQLRETURN commit() { return end(SQL_COMMIT); }
    void rollback() { (void)end(SQL_ROLLBACK); }

private:
    SQLRETURN end(SQLUSMALLINT how) {
        if (!m_on) return SQL_SUCCESS;
        OdbcLibrary& lib = odbcLibrary();
        return lib.SQLTransact(lib.environment, m_session.connection(), how);
    }
    OdbcSession& m_session;
    bool m_on = false;
};

enum class MomentOutcome { Written, Retry, Stopped };

// Writes one moment's spooled records in one transaction and lets them go from the spool. A
// record the database refuses for its data or a constraint is counted and left for the next
// moment, and after its third try put aside; the moment is then tried again without it. Any
// other failure is shown and ends the writing.
MomentOutcome writeSpooledMoment(WriterParts& logging, OdbcSession& session, Transactions& transactions,
                                 const std::vector<SpooledRecord>& moment, DateLiterals dates) {
    OdbcLibrary& lib = odbcLibrary();
    Spool& spool = logging.spool;
    for (const SpooledRecord& entry : moment) {
        std::optional<std::string> text =
            insertStatement(*entry.record, logging.settings.database, logging.settings.locationName, dates);
        if (!text) continue;
        const SQLRETURN rc = lib.SQLExecDirect(session.statement(), reinterpret_cast<SQLCHAR*>(text->data()),
                                               static_cast<SQLINTEGER>(text->size()));
        if (odbcSucceeded(rc)) {
            if (!transactions.on()) (void)spool.removeOne(Sink::Database, entry.id);  // already committed
            continue;
        }
        const StatementError error = statementError(rc, session.connection(), session.statement());
        transactions.rollback();
        if (!refusedForGood(error)) {
            logging.op.error(error.text);
            return MomentOutcome::Stopped;
        }
        if (entry.attempts + 1 < kRefusalsBeforeRejecting) {
            (void)spool.countAttempt(Sink::Database, entry.id);
            logging.refusedAtThisMoment.push_back(entry.id);
            return MomentOutcome::Retry;
        }
        if (!writeRejected(logging, *entry.record, *text, error.text) || !spool.removeOne(Sink::Database, entry.id)) {
            logging.refusedAtThisMoment.push_back(entry.id);  // kept, and tried again at the next moment
            return MomentOutcome::Retry;
        }
        if (!logging.rejectionShown) {
            logging.rejectionShown = true;
            logging.op.warning(kRejectedText);
        }
        return MomentOutcome::Retry;
    }
    const SQLRETURN rc = transactions.commit();
    if (!odbcSucceeded(rc)) {
        const std::string text = statementErrorText(rc, session.connection(), SQL_NULL_HSTMT);
        transactions.rollback();
        logging.op.error(text);
        return MomentOutcome::Stopped;
    }
    // Committed: a stop before the spool lets go repeats this moment's rows, nothing else.
    std::vector<std::int64_t> written;
    for (const SpooledRecord& entry : moment) written.push_back(entry.id);
    (void)spool.remove(Sink::Database, written);
    return MomentOutcome::Written;
}

// The name of the connected DBMS; empty when the driver does not say.
std::string dbmsName(const OdbcSession& session) {
    SQLCHAR name[256] = {};
    SQLSMALLINT length = 0;
    if (!odbcSucceeded(odbcLibrary().SQLGetInfo(session.connection(), SQL_DBMS_NAME, name, sizeof name, &length)))
        return {};
    name[sizeof name - 1] = '\0';
    return reinterpret_cast<const char*>(name);
}

// The oldest spooled records but those refused at this moment.
std::vector<SpooledRecord> nextBatch(const WriterParts& logging, std::size_t records = kSpoolBatchRecords) {
    const std::vector<std::int64_t>& refused = logging.refusedAtThisMoment;
    std::vector<SpooledRecord> batch = logging.spool.oldest(Sink::Database, records + refused.size());
    std::erase_if(batch, [&refused](const SpooledRecord& r) {
        return std::find(refused.begin(), refused.end(), r.id) != refused.end();
    });
    return batch;
}

// Sends the spooled records, a moment per transaction, oldest first, until none is left, one
// fails or the slice is over. False when something failed.
bool insertSpooledRecords(WriterParts& logging, OdbcSession& session, DateLiterals dates, Clock::time_point deadline) {
    std::vector<SpooledRecord> batch = nextBatch(logging);
    if (batch.empty()) return true;
    Transactions transactions(session);
    std::size_t next = 0;
    Clock::duration lastMoment{};
    bool first = true;  // one moment at least, however late, so that every slice gets on
    for (;;) {
        if (next >= batch.size()) {
            batch = nextBatch(logging);
            next = 0;
            if (batch.empty()) return true;
        }
        // Stop before a moment that would run past the slice, judged by the last one.
        if (!first && Clock::now() + lastMoment >= deadline) {
            logging.databaseBehind = true;
            return true;
        }
        const auto momentStart = Clock::now();
        // One moment: the records with the first one's time (a batch ends it when it is longer).
        std::size_t end = next + 1;
        while (end < batch.size() && batch[end].record->time == batch[next].record->time) ++end;
        const std::vector<SpooledRecord> moment(batch.begin() + static_cast<std::ptrdiff_t>(next),
                                                batch.begin() + static_cast<std::ptrdiff_t>(end));
        switch (writeSpooledMoment(logging, session, transactions, moment, dates)) {
            case MomentOutcome::Written:
                next = end;
                lastMoment = Clock::now() - momentStart;
                first = false;
                break;
            case MomentOutcome::Retry: batch.clear(); break;  // read again without the refused record
            case MomentOutcome::Stopped: return false;
        }
    }
}

// Writes the records kept in memory through one statement handle, oldest first, each committed by
// itself; stops at the first failure, which is shown and leaves that record and the ones behind
// it queued.
void insertQueuedRecords(WriterParts& logging, OdbcSession& session, DateLiterals dates) {
    OdbcLibrary& lib = odbcLibrary();
    RecordQueue& queue = logging.databaseQueue;
    while (!queue.empty()) {
        const RecordPtr record = queue.front();
        std::optional<std::string> text =
            insertStatement(*record, logging.settings.database, logging.settings.locationName, dates);
        if (!text) {
            queue.pop();
            continue;
        }
        const SQLRETURN rc = lib.SQLExecDirect(session.statement(), reinterpret_cast<SQLCHAR*>(text->data()),
                                               static_cast<SQLINTEGER>(text->size()));
        if (!odbcSucceeded(rc)) {
            logging.op.error(statementErrorText(rc, session.connection(), session.statement()));
            return;
        }
        queue.pop();
    }
}

}  // namespace

// The writer's connection, kept while the database is behind (kept in the Logging between slices).
struct DatabaseConnection {
    OdbcSession session;
    std::string dsn;
    std::string user;
    std::string password;
    DateLiterals dates = DateLiterals::Escapes;
    bool rowLists = false;  // the database takes a list of rows in one INSERT
    // The spooled records of the last list the database refused: the moments that hold them go
    // in row by row, each in its own transaction, which finds the row it refuses.
    std::int64_t suspectFirst = 0;
    std::int64_t suspectLast = -1;
    // To judge how many rows fit in what is left of a slice: the time a list took per row beyond
    // a round trip, and the last commit's (a round trip, and the spool letting its rows go).
    double msPerRow = 0;
    double commitMs = 0;
};

namespace {

// A list INSERT and the spooled records whose rows it holds.
struct ListInsert {
    std::string text;
    std::vector<std::int64_t> ids;
};

std::vector<ListInsert> listInserts(const std::vector<SpooledRecord>& records, std::size_t begin, std::size_t end,
                                    const DatabaseSettings& settings, const std::string& locationName,
                                    DateLiterals dates) {
    std::vector<ListInsert> lists;
    std::string columns;
    ListInsert list;
    const auto close = [&] {
        if (list.text.empty()) return;
        list.text += ";";
        lists.push_back(std::move(list));
        list = ListInsert{};
    };
    for (std::size_t i = begin; i < end; ++i) {
        const std::optional<RowText> row = rowText(*records[i].record, settings, locationName, dates);
        if (!row) continue;
        if (row->columns != columns || list.ids.size() >= kRowsPerList ||
            list.text.size() + row->values.size() > kListBytes)
            close();
        if (list.text.empty()) {
            columns = row->columns;
            list.text = "INSERT INTO " + settings.table + " (" + columns + ")\n  VALUES (" + row->values + ")";
        } else {
            list.text += ",\n  (" + row->values + ")";
        }
        list.ids.push_back(records[i].id);
    }
    close();
    return lists;
}

// The DBMS refused the statement's words: it takes no list of rows after all.
bool syntaxRefused(const StatementError& error) {
    return error.state.compare(0, 2, "42") == 0 || error.state.compare(0, 2, "37") == 0;
}

enum class ListsOutcome {
    Done,
    Failed,   // shown; the connection goes
    NoLists,  // the DBMS refused the list's words: nothing is written, nothing shown
    Lost,     // a kept connection failed at its first statement (a server restarted): nothing shown
};

// Sends the spooled records as lists of rows, oldest first, until none is left, one fails or
// the slice is over. The lists of one read from the spool (a few lists' worth) share one
// transaction of whole moments (but a moment cut by the read's end), committed at the latest when
// the slice ends: a stop between its commit and the spool's update repeats those rows, never more
// than a slice's. A list the database refuses for its data or a constraint is rolled back with
// the transaction; the moments that hold its rows are then written as writeSpooledMoment writes
// them, a row at a time in a transaction per moment, which counts the refused row and writes the
// others.
ListsOutcome insertSpooledLists(WriterParts& logging, DatabaseConnection& connection, Clock::time_point deadline,
                                bool keptConnection) {
    OdbcLibrary& lib = odbcLibrary();
    Spool& spool = logging.spool;
    OdbcSession& session = connection.session;
    std::vector<SpooledRecord> batch = nextBatch(logging, kSpoolListRecords);
    if (batch.empty()) return ListsOutcome::Done;
    Transactions transactions(session);
    std::vector<std::int64_t> pending;  // records whose rows are in the open transaction
    const auto commitPending = [&]() -> bool {
        if (pending.empty()) return true;
        const auto start = Clock::now();
        const SQLRETURN rc = transactions.commit();
        if (!odbcSucceeded(rc)) {
            const std::string text = statementErrorText(rc, session.connection(), SQL_NULL_HSTMT);
            transactions.rollback();
            logging.op.error(text);
            return false;
        }
        (void)spool.remove(Sink::Database, pending);
        pending.clear();
        connection.commitMs = Milliseconds(Clock::now() - start).count();
        return true;
    };
    const auto momentEnd = [&batch](std::size_t from) {
        std::size_t end = from + 1;
        while (end < batch.size() && batch[end].record->time == batch[from].record->time) ++end;
        return end;
    };
    const auto suspect = [&](std::size_t from, std::size_t end) {
        return batch[from].id <= connection.suspectLast && batch[end - 1].id >= connection.suspectFirst;
    };
    // The rows of whole moments that still fit in the slice, judged by what a row took so far
    // and the round trips of a list and of the commit (both about the commit's time).
    const auto rowsThatFit = [&]() -> std::size_t {
        if (connection.msPerRow <= 0) return kFirstListRows;  // a moment or so, to learn the pace
        const double left = Milliseconds(deadline - Clock::now()).count() - 2 * connection.commitMs;
        if (left <= 0) return 0;
        return std::min(kRowsPerList, static_cast<std::size_t>(kSliceShare * left / connection.msPerRow));
    };
    std::size_t next = 0;
    Clock::duration lastStep{};
    bool first = true;  // one step at least, however late, so that every slice gets on
    bool answered = false;  // a statement of this call went through
    for (;;) {
        if (next >= batch.size()) {
            // The spool still holds what the open transaction wrote: committed first, and let go.
            if (!commitPending()) return ListsOutcome::Failed;
            batch = nextBatch(logging, kSpoolListRecords);
            next = 0;
            if (batch.empty()) return ListsOutcome::Done;
        }
        std::size_t end = momentEnd(next);
        const bool rowByRow = suspect(next, end);
        const std::size_t fit = first ? std::max(rowsThatFit(), end - next) : rowsThatFit();
        // Stop before a step that would run past the slice: a moment row by row judged by the
        // last step, a list by the rows that fit.
        const auto commitTime = std::chrono::duration_cast<Clock::duration>(Milliseconds(connection.commitMs));
        if (!first && (rowByRow ? Clock::now() + lastStep + commitTime >= deadline : end - next > fit)) {
            if (!commitPending()) return ListsOutcome::Failed;
            logging.databaseBehind = true;
            return ListsOutcome::Done;
        }
        const auto stepStart = Clock::now();
        if (rowByRow) {
            if (!commitPending()) return ListsOutcome::Failed;
            const std::vector<SpooledRecord> moment(batch.begin() + static_cast<std::ptrdiff_t>(next),
                                                    batch.begin() + static_cast<std::ptrdiff_t>(end));
            switch (writeSpooledMoment(logging, session, transactions, moment, connection.dates)) {
                case MomentOutcome::Written: next = end; break;
                case MomentOutcome::Retry: batch.clear(); break;  // read again without the refused record
                case MomentOutcome::Stopped: return ListsOutcome::Failed;
            }
        } else {
            // Whole moments, up to a list's worth of rows, as many as fit.
            for (std::size_t more = end; more < batch.size(); more = end) {
                const std::size_t moreEnd = momentEnd(more);
                if (moreEnd - next > fit || suspect(more, moreEnd)) break;
                end = moreEnd;
            }
            const std::vector<ListInsert> lists = listInserts(batch, next, end, logging.settings.database,
                                                              logging.settings.locationName, connection.dates);
            bool refused = false;
            for (const ListInsert& list : lists) {
                std::string text = list.text;
                const SQLRETURN rc = lib.SQLExecDirect(session.statement(), reinterpret_cast<SQLCHAR*>(text.data()),
                                                       static_cast<SQLINTEGER>(text.size()));
                if (odbcSucceeded(rc)) {
                    answered = true;
                    if (!transactions.on()) (void)spool.remove(Sink::Database, list.ids);  // already committed
                    continue;
                }
                const StatementError error = statementError(rc, session.connection(), session.statement());
                transactions.rollback();
                pending.clear();
                if (refusedForGood(error)) {
                    connection.suspectFirst = list.ids.front();
                    connection.suspectLast = list.ids.back();
                    refused = true;
                    break;
                }
                if (syntaxRefused(error) && list.ids.size() > 1) return ListsOutcome::NoLists;
                if (keptConnection && !answered) return ListsOutcome::Lost;
                logging.op.error(error.text);
                return ListsOutcome::Failed;
            }
            if (refused) {
                batch.clear();  // read again from the oldest: the rolled-back rows are still spooled
            } else {
                for (std::size_t i = next; i < end; ++i) pending.push_back(batch[i].id);
                const double stepMs = Milliseconds(Clock::now() - stepStart).count();
                const double perRow = std::max(0.0, stepMs - connection.commitMs) / static_cast<double>(end - next);
                // A slower list counts at once, a faster one by a quarter: the slice rather ends early.
                connection.msPerRow = perRow > connection.msPerRow ? perRow : 0.75 * connection.msPerRow + 0.25 * perRow;
                if (!transactions.on()) {
                    (void)spool.remove(Sink::Database, pending);  // the records without a row too
                    pending.clear();
                }
                next = end;
            }
        }
        lastStep = Clock::now() - stepStart;
        first = false;
    }
}

}  // namespace

bool variableIncluded(int model, int variable) {
    switch (model) {
    case kBranchMeter: return variable >= 0 && variable < kVariableCount;
    case kFullDataMeter: return variable >= 0 && variable <= kFirstAmpsVariable + 2;  // to Amps3
    case kEnergyOnlyMeter: return variable >= 0 && variable <= kFirstAmpsVariable + 1;  // to Amps2
    case kTemperatureMeter:
        return variable == kMeterVariable || variable == kLocationVariable || variable == kTemperatureVariable;
    default: return false;
    }
}

DateLiterals dateLiteralsFor(const std::string& dbmsName) {
    return dbmsName.find(kTextDatesDbmsName) != std::string::npos ? DateLiterals::Text : DateLiterals::Escapes;
}

std::string formatValue(int variable, const ReadingsRecord& record, std::int16_t sqlType,
                        const std::string& locationName, DateLiterals dates) {
    char text[64];
    if (variable == kMeterVariable) {
        if (isTextType(sqlType)) {
            std::snprintf(text, sizeof text, "'%d'", record.address);
            return text;
        }
        if (isNumericType(sqlType)) {
            std::snprintf(text, sizeof text, "%d", record.address);
            return text;
        }
        return "NULL";
    }
    if (variable == kLocationVariable) return isTextType(sqlType) ? quoted(locationName) : "NULL";
    if (variable == kDateTimeVariable) {
        if (isTextType(sqlType) || (dates == DateLiterals::Text && (sqlType == SQL_DATE || sqlType == SQL_TIMESTAMP)))
            return formatTime(record.time, "'%m/%d/%Y %H:%M:%S'");
        if (dates == DateLiterals::Text && sqlType == SQL_TIME) return formatTime(record.time, "'%H:%M:%S'");
        if (sqlType == SQL_TIMESTAMP) return formatTime(record.time, "{ts '%Y-%m-%d %H:%M:%S'}");
        if (sqlType == SQL_DATE) return formatTime(record.time, "{d '%Y-%m-%d'}");
        if (sqlType == SQL_TIME) return formatTime(record.time, "{t '%H:%M:%S'}");
        return "NULL";
    }
    if (variable >= kFirstAmpsVariable && variable < kVariableCount) {
        const std::optional<float> value = currentValue(variable, record);
        // A value that is not a number (a meter's NaN or infinity) has no literal a column takes.
        if (!value || !std::isfinite(*value)) return "NULL";
        if (isTextType(sqlType)) {
            std::snprintf(text, sizeof text, "'%.3f'", static_cast<double>(*value));
            return text;
        }
        if (isNumericType(sqlType)) {
            std::snprintf(text, sizeof text, "%.3f", static_cast<double>(*value));
            return text;
        }
    }
    return "NULL";
}

std::optional<std::string> insertStatement(const ReadingsRecord& record, const DatabaseSettings& settings,
                                           const std::string& locationName, DateLiterals dates) {
    const std::optional<RowText> row = rowText(record, settings, locationName, dates);
    if (!row) return std::nullopt;
    return "INSERT INTO " + settings.table + " (" + row->columns + ")\n  VALUES (" + row->values + ");";
}

bool rowListsFor(const std::string& dbmsName) {
    for (const char* name : kRowListDbmsNames)
        if (dbmsName.find(name) != std::string::npos) return true;
    return false;
}

std::vector<std::string> insertLists(const std::vector<RecordPtr>& records, const DatabaseSettings& settings,
                                     const std::string& locationName, DateLiterals dates) {
    std::vector<SpooledRecord> entries;
    for (const RecordPtr& record : records) entries.push_back({static_cast<std::int64_t>(entries.size()), record, 0});
    std::vector<std::string> statements;
    for (ListInsert& list : listInserts(entries, 0, entries.size(), settings, locationName, dates))
        statements.push_back(std::move(list.text));
    return statements;
}

// The writer's connect, run on a thread of its own so that a server that takes its time (or never
// answers, until the login time-out) does not hold the caller. The thread touches nothing but the
// new connection's ODBC handles; the caller picks the connection up once the connect is done.
struct PendingConnect {
    std::shared_ptr<DatabaseConnection> connection;  // the connection's settings are set before the start
    std::future<std::optional<std::string>> failure;  // what to tell the operator; none: connected
};

namespace {

// The connect's three steps and the connection's DBMS, as openSession takes them, with the
// writer's texts. Runs on the connect's thread.
std::optional<std::string> connectSession(DatabaseConnection& connection) {
    OdbcSession& session = connection.session;
    if (!session.allocConnect()) return kWriterSessionTexts.allocConnection;
    if (!odbcSucceeded(session.connect(connection.dsn, connection.user, connection.password)))
        return kWriterSessionTexts.connect;
    if (!session.allocStmt()) return kWriterSessionTexts.allocStatement;
    const std::string dbms = dbmsName(session);
    connection.dates = dateLiteralsFor(dbms);
    connection.rowLists = rowListsFor(dbms);
    return std::nullopt;
}

bool sameSource(const DatabaseConnection& connection, const DatabaseSettings& settings) {
    return connection.dsn == settings.dsn && connection.user == settings.user && connection.password == settings.password;
}

bool connectDone(const PendingConnect& pending) {
    return pending.failure.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// How long a catch-up slice waits for a connect under way before it gives the caller back.
constexpr std::chrono::milliseconds kConnectPollWait{50};

enum class Connected { Yes, Pending, Failed };

// The connection to the linked data source: a connect is begun when none is under way, and
// taken once done. A connect begun for another data source (the link changed meanwhile) is let
// go unheard, and one for this data source begun. A failure is told to the operator as the
// connect's step gave it.
Connected takeConnection(WriterParts& logging, const DatabaseSettings& settings, ConnectWait wait,
                         std::shared_ptr<DatabaseConnection>& connection) {
    for (;;) {
        if (!logging.databaseConnecting) {
            auto pending = std::make_shared<PendingConnect>();
            pending->connection = std::make_shared<DatabaseConnection>();
            pending->connection->dsn = settings.dsn;
            pending->connection->user = settings.user;
            pending->connection->password = settings.password;
            pending->failure = std::async(std::launch::async, [connection = pending->connection] {
                return connectSession(*connection);
            });
            logging.databaseConnecting = std::move(pending);
        }
        PendingConnect& pending = *logging.databaseConnecting;
        if (wait == ConnectWait::Whole) {
            pending.failure.wait();
        } else if (wait == ConnectWait::Briefly) {
            (void)pending.failure.wait_for(kConnectPollWait);
        }
        if (!connectDone(pending)) return Connected::Pending;
        const std::shared_ptr<PendingConnect> done = std::move(logging.databaseConnecting);
        const std::optional<std::string> failure = done->failure.get();
        if (!sameSource(*done->connection, settings)) continue;
        if (failure) {
            logging.op.error(*failure);
            return Connected::Failed;
        }
        connection = done->connection;
        return Connected::Yes;
    }
}

}  // namespace

bool databaseConnecting(const Logging& logging) { return logging.m_databaseConnecting != nullptr; }

void DatabaseRecordWriter(Logging& logging, ConnectWait wait) {
    const auto deadline = logging.sliceDeadline();
    WriterParts parts{logging.m_op,           logging.m_settings,       logging.m_spool,
                      logging.m_databaseQueue, logging.m_refusedAtThisMoment, logging.m_rejectionShown,
                      logging.m_databaseBehind, logging.m_databaseConnecting, logging.m_stateDirectory};
    logging.m_databaseBehind = false;
    if (logging.m_settings.databaseLogging == DatabaseLoggingState::Active && logging.spoolOpening()) {
        logging.m_databaseBehind = true;  // the spool's backlog goes first, once the spool is open
        return;
    }
    if (logging.m_settings.databaseLogging != DatabaseLoggingState::Active ||
        (logging.m_databaseQueue.empty() && logging.m_spool.count(Sink::Database) == 0)) {
        logging.m_databaseConnection.reset();
        // A connect that ended meanwhile is let go; one under way ends by itself and is let go then.
        if (logging.m_databaseConnecting && connectDone(*logging.m_databaseConnecting)) logging.m_databaseConnecting.reset();
        return;
    }
    if (odbcLibrary().handle == nullptr && loadOdbcLibrary() != kOdbcLoaded) {
        switchOffSilently(parts);
        return;
    }
    if (!ensureOdbcEnvironment()) {
        switchOffSilently(parts);
        return;
    }
    const DatabaseSettings settings = logging.m_settings.database;
    std::shared_ptr<DatabaseConnection> connection = logging.m_databaseConnection;
    if (connection && !sameSource(*connection, settings)) connection.reset();  // linked to another data source meanwhile
    logging.m_databaseConnection.reset();  // given back only when the slice ends behind
    // False when the writer stops here: the connect failed (told), or it is under way and the
    // records wait for a later slice, as when the database is behind.
    const auto connect = [&]() -> bool {
        connection.reset();
        switch (takeConnection(parts, settings, wait, connection)) {
            case Connected::Yes: return true;
            case Connected::Pending: logging.m_databaseBehind = true; return false;
            case Connected::Failed: return false;
        }
        return false;
    };
    const bool kept = connection != nullptr;
    if (!kept && !connect()) return;
    // What the spool holds is older than anything in memory: it goes first.
    bool written = true;
    if (connection->rowLists && !logging.m_databaseRowByRow) {
        ListsOutcome outcome = insertSpooledLists(parts, *connection, deadline, kept);
        if (outcome == ListsOutcome::Lost) {
            // The kept connection died between slices: once more on a fresh one.
            if (!connect()) return;
            outcome = connection->rowLists ? insertSpooledLists(parts, *connection, deadline, false)
                                           : ListsOutcome::NoLists;
        }
        switch (outcome) {
            case ListsOutcome::Done: break;
            case ListsOutcome::Failed:
            case ListsOutcome::Lost: written = false; break;
            case ListsOutcome::NoLists:  // the probe failed: a row at a time on this connection
                connection->rowLists = false;
                written = insertSpooledRecords(parts, connection->session, connection->dates, deadline);
                break;
        }
    } else {
        written = insertSpooledRecords(parts, connection->session, connection->dates, deadline);
    }
    if (!written) return;  // the connection goes: the next moment connects afresh
    if (logging.m_databaseBehind) {
        logging.m_databaseConnection = connection;  // kept for the next slice
        return;
    }
    insertQueuedRecords(parts, connection->session, connection->dates);
}

}  // namespace quorna
