#pragma once
// The logging of one station: the sampler's clock and re-entrance guards, the queues of records
// waiting for the log file and for the database, and what the sinks use. A station owns one.

#include <ctime>
#include <functional>
#include <string>

#include "logging/file_log_writer.h"
#include "logging/readings_record.h"
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

struct Logging {
    Logging(Meters& meters, ConfigurationRecord& settings) : meters(meters), op(meters.op), settings(settings) {}
    Logging(const Logging&) = delete;
    Logging& operator=(const Logging&) = delete;

    Meters& meters;                 // the listed meters are read at every logging moment
    Operator& op;
    ConfigurationRecord& settings;  // what is logged where; the database writer may switch it off
    LoggingClock clock;
    TimeSource timeSource;
    bool cycleRunning = false;      // from a cycle's first step to the end of its last writer
    bool databaseWriterRunning = false;
    RecordQueue fileQueue;          // records waiting for the log file
    RecordQueue databaseQueue;      // records waiting for the database
    FileWriteFunction fileWrite;    // how the log file is written: ::write when empty
    // The folder of the settings file, with its closing '/', or empty for the working directory:
    // the spool and "Quorna-rejected.txt" are kept there.
    std::string stateDirectory;
};

// How many records are still waiting for the log file or the database.
[[nodiscard]] inline std::size_t recordsWaiting(const Logging& logging) {
    return logging.fileQueue.size() + logging.databaseQueue.size();
}

}  // namespace quorna
