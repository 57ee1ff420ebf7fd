#pragma once
// quorna-logger: the station without a window. It reads the settings file, opens the port the
// settings name, scans the bus and logs every listed meter at every logging moment to the log
// file and the database, exactly as the window program's timer does, and writes its messages as
// lines on standard error.

#include <ctime>
#include <optional>
#include <ostream>
#include <string>

namespace quorna {

// Exit codes.
inline constexpr int kLoggerExitOk = 0;          // every record written (or stopped by a signal)
inline constexpr int kLoggerExitUnusable = 2;    // bad options, settings, port or spool; nothing to log to
inline constexpr int kLoggerExitWaiting = 3;     // --once: some records wait for a later run

struct LoggerOptions {
    std::string configFile = "Quorna.cfg";
    bool once = false;
    int rescanMinutes = 0;  // 0: never
    std::string gateway;    // --gateway ADDRESS:PORT, before the settings file's gateway line
    bool help = false;
    bool version = false;
    bool live = false;     // --live: poll every meter between logging moments
    std::string http;      // --http ADDRESS:PORT: serve /metrics, /api/v1/meters and the live page
};

// The options, or nothing with the reason in *error.
std::optional<LoggerOptions> parseLoggerOptions(int argc, const char* const* argv, std::string* error);
[[nodiscard]] std::string loggerUsage();
// What the logger writes on standard error for an option it cannot take: the error on one line,
// then where to find the usage.
[[nodiscard]] std::string loggerOptionErrorText(const std::string& error);

// For tests and benchmarks only: a clock that runs faster than the wall clock, taken from the
// environment variable QUORNA_LOGGER_TEST_CLOCK="EPOCH STEP TICK_MS [TICKS]". Tick k of the logger
// happens TICK_MS real milliseconds after tick k-1 and reads the time EPOCH + k * STEP seconds; after
// TICKS ticks the clock stands still (at the time of the last one), so that a test knows how many
// logging moments there will be. Not for users: the logger's help does not mention it.
struct TestClock {
    std::time_t epoch = 0;
    int step = 1;
    int tickMs = 1000;
    long ticks = -1;  // -1: the clock never stops
};
inline constexpr const char* kTestClockVariable = "QUORNA_LOGGER_TEST_CLOCK";
[[nodiscard]] std::optional<TestClock> parseTestClock(const char* text);

// Runs the logger until --once is done or SIGTERM or SIGINT arrives; returns the exit code. The two
// signals must be blocked in the calling thread (main does it first), so that one arriving during
// a transaction is only seen between ticks.
int runLogger(const LoggerOptions& options, std::ostream& err);

}  // namespace quorna
