#pragma once
// The logging cycle: at every logging moment, read every listed meter and hand the readings to
// the file writer and the database writer.

#include <chrono>
#include <ctime>

#include "logging/logging.h"

namespace quorna {

// Called at the end of every timer tick in which the port is open, no scan runs, and file logging
// is enabled or database logging is Active. Decides by itself whether a logging moment has come.
// A call made while a logging cycle is already running (a tick delivered while a writer's
// message box is open) takes its moment as well; a writer that is still running is not entered
// again, and its records wait in the spool.
// The database writer waits for a connect as `wait` says.
void LoggingSampler(Logging& logging, ConnectWait wait = ConnectWait::Whole);

// The same cycle in steps, so that the window runs while a meter's answer is awaited:
// beginLoggingMoment decides whether a moment has come and, when it has, begins it (true); each
// loggingMomentStep waits at most `slice` for the meter being read, or reads the next one, and
// says whether the moment goes on. The step that has read the last meter hands the moment's
// records to the sinks and writes them. LoggingSampler is beginLoggingMoment, then every step.
bool beginLoggingMoment(Logging& logging, ConnectWait wait);
bool loggingMomentStep(Logging& logging, std::chrono::milliseconds slice);

// The logging moment that follows a sample taken at sampleTime: sampleTime plus the interval,
// in local time with the seconds cleared and the minutes rounded down to a multiple of the
// interval. An interval below 1 minute is never used: 1 minute takes its place.
[[nodiscard]] std::time_t nextLoggingMoment(std::time_t sampleTime, int intervalMinutes);

// Recomputes the clock's next moment from the latest sample time and the configured interval.
// The comms dialog calls it when it closes with "OK" and may have changed the interval.
void computeNextLoggingMoment(Logging& logging);

}  // namespace quorna
