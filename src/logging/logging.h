#pragma once
// The logging of one station: the sampler's clock and re-entrance guards, the queues of records
// waiting for the log file and for the database, and what the sinks use. A station owns one.

#include <chrono>
#include <ctime>
#include <functional>
#include <future>
#include <optional>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "logging/file_log_writer.h"
#include "logging/readings_record.h"
#include "logging/spool.h"
#include "meters/meters.h"
#include "settings/configuration.h"

namespace quorna {

// The sampler's clock. Both are calendar times in seconds; 0 means "none yet".
struct LoggingClock {
    std::time_t nextMoment = 0;  // the next logging moment; 0 makes the next run a moment
    std::time_t sampleTime = 0;  // the time at which the latest logging cycle started
};

// Where the sampler reads the current time; empty: the system clock.
using TimeSource = std::function<std::time_t()>;

// The database writer's connection, kept open across the slices of a backlog (database_record_writer.cpp).
struct DatabaseConnection;
// A connect to the database under way on a thread of its own (database_record_writer.cpp).
struct PendingConnect;

// Whether a database writer that must connect waits for the connect, and the first logging moment
// for the spool's opening: a tick never does (the records wait in the spool or in memory, as when
// a writer is behind, and a later slice takes the connection or the spool), a catch-up slice a
// moment, a writer called alone until it is done.
enum class ConnectWait { None, Briefly, Whole };

struct Logging {
    Logging(Meters& meters, ConfigurationRecord& settings) : meters(meters), op(meters.op()), settings(settings) {}
    Logging(const Logging&) = delete;
    Logging& operator=(const Logging&) = delete;

    Meters& meters;                 // the listed meters are read at every logging moment
    Operator& op;
    ConfigurationRecord& settings;  // what is logged where; the database writer may switch it off
    LoggingClock clock;
    TimeSource timeSource;
    // The records of the moment being logged, and all records while the spool cannot be written.
    RecordQueue fileQueue;          // records waiting for the log file
    RecordQueue databaseQueue;      // records waiting for the database
    // Every other waiting record, on disk beside the settings file (see spool.h). Opened at the
    // first logging moment, and again at each moment while it cannot be written.
    Spool spool;
    // The first opening's checks of a spool file, while they run on a thread of their own (a long
    // spool is read whole); the file's path they check. The records wait in memory meanwhile.
    std::future<std::optional<Spool::Check>> spoolCheck;
    std::string spoolCheckPath;
    bool spoolFailureShown = false;  // the spool's failure was said; said again after it works
    bool rejectionShown = false;     // a refused record went to the rejected file in this run
    std::vector<std::int64_t> refusedAtThisMoment;  // spooled records the database refused since the moment began
    // Set when a writer stopped at the end of its time slice with records still waiting: the
    // caller runs catchUpLogging between its ticks until both are clear.
    bool fileBehind = false;
    bool databaseBehind = false;
    // Open while the database is behind, so that the slices of a backlog share one connection;
    // let go when the backlog is written or the writer fails.
    std::shared_ptr<DatabaseConnection> databaseConnection;
    // The connect under way, if any; its end is waited for when the logging goes (at most the
    // login time-out).
    std::shared_ptr<PendingConnect> databaseConnecting;
    // For tests: every spooled row goes in by its own INSERT, as for a driver that takes no list
    // of rows, whatever the database takes.
    bool databaseRowByRow = false;
    // When the running logging cycle or catch-up slice began: its writers share one time budget.
    // Empty outside them (a writer called alone takes its own).
    std::chrono::steady_clock::time_point sliceStart{};
    FileWriteFunction fileWrite;    // how the log file is written: ::write when empty
    // The folder of the settings file, with its closing '/', or empty for the working directory:
    // the spool and "Quorna-rejected.txt" are kept there.
    std::string stateDirectory;
    // The spool's file name in that folder: named after the settings file (spoolFileNameFor).
    std::string spoolFileName = kSpoolFileName;
};

// The longest a writer works before it gives the window back; what is left waits for the next
// slice (catchUpLogging) or the next moment.
inline constexpr std::chrono::milliseconds kSliceBudget{200};

// What the operator is told, once, when the spool cannot be opened or written.
inline constexpr const char* kSpoolFailureText =
    "Couldn't write the spool file \"Quorna-spool.db\"\nReadings are kept in memory until it can be written";
// What the operator is told, once, when another program (a logger or window on the same
// settings) holds the spool; the spool file's name follows.
inline constexpr const char* kSpoolBusyText = "The spool file is in use by another program: ";
inline constexpr const char* kSpoolBusyDetail = "\nReadings are kept in memory until it is free";
// The caption of what the spool tells when it set a damaged file or unusable records aside.
inline constexpr const char* kSpoolNoticeCaption = "Spool Failure";
// What the operator is told, once per run, when a record the database refused went to the
// rejected records' file.
inline constexpr const char* kRejectedText =
    "The database refused a reading three times\nIt was moved to \"Quorna-rejected.txt\" and logging goes on";

// The end of the time budget of the writer that starts now.
[[nodiscard]] inline std::chrono::steady_clock::time_point sliceDeadline(const Logging& logging) {
    const auto start = logging.sliceStart == std::chrono::steady_clock::time_point{} ? std::chrono::steady_clock::now()
                                                                                     : logging.sliceStart;
    return start + kSliceBudget;
}

// The folder's spool file and rejected records' file.
[[nodiscard]] inline std::string spoolPath(const Logging& logging) { return logging.stateDirectory + logging.spoolFileName; }

// Tells the operator what the spool set aside since it was last asked, each as an error.
inline void tellSpoolNotices(Logging& logging) {
    for (const std::string& notice : logging.spool.takeNotices()) logging.op.error(notice, kSpoolNoticeCaption);
}
inline constexpr const char* kRejectedFileName = "Quorna-rejected.txt";

// How many records are still waiting for the log file or the database, in memory and spooled.
[[nodiscard]] std::size_t recordsWaiting(const Logging& logging);

}  // namespace quorna
