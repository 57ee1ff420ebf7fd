#pragma once
// The logging of one station: the sampler's clock and re-entrance guards, the queues of records
// waiting for the log file and for the database, and what the sinks use. A station owns one.

#include <array>
#include <chrono>
#include <ctime>
#include <functional>
#include <future>
#include <optional>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
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

class Logging {
public:
    Logging(Meters& meters, ConfigurationRecord& settings) : m_meters(meters), m_op(meters.op()), m_settings(settings) {}
    Logging(const Logging&) = delete;
    Logging& operator=(const Logging&) = delete;

    // What the logging works on: the station's meters, operator and settings (the database
    // writer may switch database logging off; the dialogs change what is logged where).
    [[nodiscard]] Meters& meters() const { return m_meters; }
    [[nodiscard]] Operator& op() const { return m_op; }
    [[nodiscard]] ConfigurationRecord& settings() const { return m_settings; }

    // Where the sampler reads the current time from now on; empty: the system clock.
    void useClock(TimeSource source) { m_timeSource = std::move(source); }
    // How the log file is written from now on; empty: ::write.
    void useFileWrite(FileWriteFunction write) { m_fileWrite = std::move(write); }
    // The folder of the spool and the rejected records' file, with its closing '/' (empty: the
    // working directory), and the spool's file name in it (spoolFileNameFor).
    void useStateDirectory(std::string directory) { m_stateDirectory = std::move(directory); }
    void useStateDirectory(std::string directory, std::string spoolFileName) {
        m_stateDirectory = std::move(directory);
        m_spoolFileName = std::move(spoolFileName);
    }
    // For tests: every spooled row goes in by its own INSERT, as for a driver that takes no list
    // of rows, whatever the database takes.
    void insertRowByRow(bool rowByRow) { m_databaseRowByRow = rowByRow; }
    // For tests: sets the sampler's clock (a sample taken at sampleTime, the next moment due).
    void setClock(std::time_t sampleTime, std::time_t nextMoment) { m_clock = {nextMoment, sampleTime}; }
    // Queues a record for the log file or the database, as the sampler does at a moment.
    void queueForFile(RecordPtr record) { m_fileQueue.push(std::move(record)); }
    void queueForDatabase(RecordPtr record) { m_databaseQueue.push(std::move(record)); }
    // Starts a new logging moment for the database writer: records it refused are tried again.
    void startMoment() { m_refusedAtThisMoment.clear(); }
    // Drops every record waiting for the log file (or the database), in memory and spooled: the
    // operator chose another file (or database).
    void discardFileRecords();
    void discardDatabaseRecords();

    // A time slice of the caller (its tick) begins or ends: the writers it runs share one budget.
    void startSlice() { m_sliceStart = std::chrono::steady_clock::now(); }
    void endSlice() { m_sliceStart = {}; }
    // The end of the time budget of the writer that starts now.
    [[nodiscard]] std::chrono::steady_clock::time_point sliceDeadline() const;

    // The current time, from the clock in use.
    [[nodiscard]] std::time_t now() const { return m_timeSource ? m_timeSource() : std::time(nullptr); }
    [[nodiscard]] const LoggingClock& clock() const { return m_clock; }
    [[nodiscard]] std::time_t nextMoment() const { return m_clock.nextMoment; }
    [[nodiscard]] std::time_t sampleTime() const { return m_clock.sampleTime; }
    // The records of the moment being logged, and all records while the spool cannot be written.
    [[nodiscard]] const RecordQueue& fileQueue() const { return m_fileQueue; }
    [[nodiscard]] const RecordQueue& databaseQueue() const { return m_databaseQueue; }
    // Every other waiting record, on disk beside the settings file (see spool.h).
    [[nodiscard]] Spool& spool() { return m_spool; }
    [[nodiscard]] const Spool& spool() const { return m_spool; }
    // How many records are still waiting for the log file or the database, in memory and spooled.
    [[nodiscard]] std::size_t recordsWaiting() const;
    // Whether a writer stopped at the end of its time slice with records still waiting.
    [[nodiscard]] bool fileBehind() const { return m_fileBehind; }
    [[nodiscard]] bool databaseBehind() const { return m_databaseBehind; }
    [[nodiscard]] bool behind() const { return m_fileBehind || m_databaseBehind; }
    // Whether the spool's first opening is under way: the writers wait for it, as if behind.
    [[nodiscard]] bool spoolOpening() const { return m_spoolCheck.valid(); }
    // A logging moment is reading its meters (beginLoggingMoment).
    [[nodiscard]] bool momentUnderWay() const { return m_moment.underWay; }
    // Whether the database writer keeps its connection open for the next slice.
    [[nodiscard]] bool keepsDatabaseConnection() const { return m_databaseConnection != nullptr; }
    // The spooled records the database refused since the moment began.
    [[nodiscard]] const std::vector<std::int64_t>& refusedAtThisMoment() const { return m_refusedAtThisMoment; }
    [[nodiscard]] const std::string& stateDirectory() const { return m_stateDirectory; }
    [[nodiscard]] const std::string& spoolFileName() const { return m_spoolFileName; }
    // The folder's spool file.
    [[nodiscard]] std::string spoolPath() const { return m_stateDirectory + m_spoolFileName; }
    // Tells the operator what the spool set aside since it was last asked, each as an error.
    void tellSpoolNotices();

private:
    // The logging layer's writers work on the queues, the spool and the flags below.
    friend void LoggingSampler(Logging& logging, ConnectWait wait);
    friend bool beginLoggingMoment(Logging& logging, ConnectWait wait);
    friend bool loggingMomentStep(Logging& logging, std::chrono::milliseconds slice);
    friend void computeNextLoggingMoment(Logging& logging);
    friend void FileLogWriter(Logging& logging);
    friend void DatabaseRecordWriter(Logging& logging, ConnectWait wait);
    friend bool databaseConnecting(const Logging& logging);
    friend void keepWaitingRecords(Logging& logging, ConnectWait wait);
    friend bool catchUpLogging(Logging& logging, ConnectWait wait);
    friend void finishLoggingWork(Logging& logging);

    // Whether the spool is open, its first opening under way, or failed.
    // A logging moment whose meters are being read: the list as the moment found it, the entry
    // read next (or whose answer is awaited), the registers it brings, and the records read so far,
    // which go to the sinks together once every meter has been read.
    struct MomentReads {
        bool underWay = false;
        bool reprobing = false;  // garbled addresses of the last scan are asked first
        ConnectWait wait = ConnectWait::Whole;
        bool toFile = false;
        bool toDatabase = false;
        std::vector<MeterEntry> entries;
        std::size_t next = 0;
        bool awaiting = false;
        int count = 0;  // registers the read under way asks for
        std::array<std::int32_t, 64> registers{};
        std::vector<RecordPtr> records;
    };

    enum class SpoolState { Open, Opening, Failed };
    // Opens the spool unless it is open: its first opening checks the file on a thread of its own
    // unless `wait` is Whole.
    SpoolState ensureSpool(ConnectWait wait);
    // Closes the spool that failed and tells the operator, once until it works again.
    void spoolFailed();

    Meters& m_meters;                 // the listed meters are read at every logging moment
    Operator& m_op;
    ConfigurationRecord& m_settings;  // what is logged where; the database writer may switch it off
    LoggingClock m_clock;
    MomentReads m_moment;
    TimeSource m_timeSource;
    RecordQueue m_fileQueue;          // records waiting for the log file
    RecordQueue m_databaseQueue;      // records waiting for the database
    // Opened at the first logging moment, and again at each moment while it cannot be written.
    Spool m_spool;
    // The first opening's checks of a spool file, while they run on a thread of their own (a long
    // spool is read whole); the file's path they check. The records wait in memory meanwhile.
    std::future<std::optional<Spool::Check>> m_spoolCheck;
    std::string m_spoolCheckPath;
    bool m_spoolFailureShown = false;  // the spool's failure was said; said again after it works
    bool m_rejectionShown = false;     // a refused record went to the rejected file in this run
    std::vector<std::int64_t> m_refusedAtThisMoment;  // spooled records the database refused since the moment began
    // Set when a writer stopped at the end of its time slice with records still waiting: the
    // caller runs catchUpLogging between its ticks until both are clear.
    bool m_fileBehind = false;
    bool m_databaseBehind = false;
    // Open while the database is behind, so that the slices of a backlog share one connection;
    // let go when the backlog is written or the writer fails.
    std::shared_ptr<DatabaseConnection> m_databaseConnection;
    // The connect under way, if any; its end is waited for when the logging goes (at most the
    // login time-out).
    std::shared_ptr<PendingConnect> m_databaseConnecting;
    bool m_databaseRowByRow = false;
    // When the running logging cycle or catch-up slice began: its writers share one time budget.
    // Empty outside them (a writer called alone takes its own).
    std::chrono::steady_clock::time_point m_sliceStart{};
    FileWriteFunction m_fileWrite;    // how the log file is written: ::write when empty
    std::string m_stateDirectory;
    std::string m_spoolFileName = kSpoolFileName;
};

// The longest a writer works before it gives the window back; what is left waits for the next
// slice (catchUpLogging) or the next moment. With the block that ends a slice and the window's
// own events around it, the window waits a quarter of a second at most.
inline constexpr std::chrono::milliseconds kSliceBudget{150};

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

// The folder's spool file.
[[nodiscard]] inline std::string spoolPath(const Logging& logging) { return logging.spoolPath(); }

inline constexpr const char* kRejectedFileName = "Quorna-rejected.txt";

// How many records are still waiting for the log file or the database, in memory and spooled.
[[nodiscard]] inline std::size_t recordsWaiting(const Logging& logging) { return logging.recordsWaiting(); }

}  // namespace quorna
