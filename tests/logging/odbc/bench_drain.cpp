// Prints how fast a backlog of 100,000 spooled records drains into the log file, into SQLite and
// into PostgreSQL (when scripts/odbc-test-env.sh started it), how long the longest slice keeps
// the caller (the window's event loop) busy, and the resident memory before and after.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "logging/database_record_writer.h"
#include "logging/durable_queue.h"
#include "logging/file_log_writer.h"
#include "logging/odbc_library.h"
#include "odbc_test_env.h"
#include "resident_memory.h"
#include "recording_operator.h"
#include "station/station.h"

namespace {

using namespace quorna;
using Clock = std::chrono::steady_clock;

constexpr int kMeters = 63;
constexpr int kRecords = 100000;

// A week-long outage's worth of moments of 63 Branch meters, straight into the spool.
void fillSpool(Logging& logging, bool toFile, bool toDatabase) {
    for (int done = 0, moment = 0; done < kRecords; ++moment) {
        std::vector<RecordPtr> records;
        for (int a = 1; a <= kMeters && done < kRecords; ++a, ++done) {
            auto r = std::make_shared<ReadingsRecord>();
            r->model = 230;
            r->address = a;
            r->time = 1765000000 + moment * 60;
            for (int i = 0; i < 42; ++i) r->current[static_cast<std::size_t>(i)] = static_cast<float>(a + i) * 0.125F;
            records.push_back(r);
        }
        (void)logging.spool.append(records, toFile, toDatabase);
    }
}

// Drains as the window does: the writer once, then a slice at a time while it is behind.
void drain(const char* name, Logging& logging, void (*writer)(Logging&), const test::RecordingOperator& op) {
    const long before = test::residentKilobytes();
    double longest = 0;
    int slices = 0;
    const auto start = Clock::now();
    bool more = true;
    for (bool first = true; more; first = false) {
        const auto t0 = Clock::now();
        if (first) {
            writer(logging);
            more = loggingBehind(logging);
        } else {
            more = catchUpLogging(logging);
        }
        longest = std::max(longest, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        ++slices;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%s: %d records in %.1f s, %.0f records/s, %d slices, longest slice %.0f ms, resident %ld kB before, "
                "%ld kB after, %zu left, %zu messages\n",
                name, kRecords, seconds, kRecords / seconds, slices, longest, before, test::residentKilobytes(),
                recordsWaiting(logging), op.messages.size());
}

void databaseDrain(const char* name) {
    std::string why;
    const auto source = test::testDataSource(name, &why);
    if (!source) {
        std::printf("%s: skipped (%s)\n", name, why.c_str());
        return;
    }
    test::RecordingOperator op;
    Station station(op);
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("quorna-bench-drain-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    station.logging.stateDirectory = dir.string() + "/";
    (void)station.logging.spool.open(spoolPath(station.logging));
    (void)test::execSql(*source, "DROP TABLE IF EXISTS bench_drain");
    std::string columns = "Meter INTEGER, Location VARCHAR(32), Date_Time TIMESTAMP";
    for (int n = 1; n <= 42; ++n) columns += ", Amps" + std::to_string(n) + " FLOAT";
    if (!test::execSql(*source, "CREATE TABLE bench_drain (" + columns + ")")) return;
    ConfigurationRecord& config = station.settings;
    config.databaseLogging = DatabaseLoggingState::Active;
    config.database.dsn = source->dsn;
    config.database.user = source->user;
    config.database.password = source->password;
    config.database.table = "bench_drain";
    config.database.links = {{0, SQL_INTEGER, "Meter"}, {1, SQL_VARCHAR, "Location"}, {2, SQL_TIMESTAMP, "Date_Time"}};
    for (int n = 1; n <= 42; ++n) config.database.links.push_back({n + 2, SQL_FLOAT, "Amps" + std::to_string(n)});
    fillSpool(station.logging, false, true);
    drain((std::string("database, ") + name).c_str(), station.logging, DatabaseRecordWriter, op);
    const auto rows = test::querySql(*source, "SELECT count(*) FROM bench_drain", 1);
    std::printf("  rows in the table: %s\n", rows.empty() ? "?" : rows[0][0].c_str());
    std::filesystem::remove_all(dir);
}

void fileDrain() {
    test::RecordingOperator op;
    Station station(op);
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("quorna-bench-file-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    station.logging.stateDirectory = dir.string() + "/";
    (void)station.logging.spool.open(spoolPath(station.logging));
    station.settings.fileLoggingEnabled = true;
    station.settings.logFilePath = (dir / "plant.csv").string();
    fillSpool(station.logging, true, false);
    drain("log file", station.logging, FileLogWriter, op);
    std::printf("  file size: %ju bytes\n", static_cast<std::uintmax_t>(std::filesystem::file_size(dir / "plant.csv")));
    std::filesystem::remove_all(dir);
}

}  // namespace

int main() {
    test::useTestOdbcEnvironment();
    std::printf("draining a backlog of %d records of %d Branch meters (slice budget %lld ms)\n", kRecords, kMeters,
                static_cast<long long>(kSliceBudget.count()));
    fileDrain();
    databaseDrain("SQLite");
    databaseDrain("PostgreSQL");
    return 0;
}
