#pragma once
// The logging cycle: at every logging moment, read every listed meter and hand the readings to
// the file writer and the database writer.

#include <ctime>
#include <functional>

namespace quorna {

// Called at the end of every timer tick in which the port is open, no scan runs, and file logging
// is enabled or database logging is Active. Decides by itself whether a logging moment has come.
// A call made while a logging cycle is already running (a tick delivered while a writer's
// message box is open) returns at once without touching anything.
void LoggingSampler();

// The sampler's clock. Both are calendar times in seconds; 0 means "none yet".
struct LoggingClock {
    std::time_t nextMoment = 0;  // the next logging moment; 0 makes the next run a moment
    std::time_t sampleTime = 0;  // the time at which the latest logging cycle started
};
LoggingClock& loggingClock();

// The logging moment that follows a sample taken at sampleTime: sampleTime plus the interval,
// in local time with the seconds cleared and the minutes rounded down to a multiple of the
// interval. An interval below 1 minute is never used: 1 minute takes its place.
[[nodiscard]] std::time_t nextLoggingMoment(std::time_t sampleTime, int intervalMinutes);

// Recomputes loggingClock().nextMoment from the latest sample time and the configured interval.
// The comms dialog calls it when it closes with "OK" and may have changed the interval.
void computeNextLoggingMoment();

// Where the sampler reads the current time; tests set a clock of their own. An empty function
// puts the system clock back.
using TimeSource = std::function<std::time_t()>;
void setLoggingTimeSource(TimeSource source);

// True while a logging cycle runs (from its first step to the end of the last writer).
[[nodiscard]] bool loggingCycleRunning();

// Puts the sampler's clock, its time source and its re-entrance guard back to program start.
void resetLoggingSampler();

}  // namespace quorna
