// Prints how long a logging moment takes in the database writer (one connection, one INSERT per
// meter) against the SQLite test data source, and how the process's memory grows per moment.
// Run it with the environment of scripts/odbc-test-env.sh, or alone (it prepares SQLite itself).

#include <chrono>
#include <cstdio>
#include <memory>
#include <unistd.h>

#include "logging/database_record_writer.h"
#include "logging/odbc_library.h"
#include "logging/readings_record.h"
#include "odbc_test_env.h"
#include "resident_memory.h"
#include "recording_operator.h"
#include "settings/configuration.h"

int main() {
    using namespace quorna;
    test::RecordingOperator op;
    Station station(op);
    test::useTestOdbcEnvironment();
    std::string why;
    const auto source = test::testDataSource("SQLite", &why);
    if (!source) {
        std::printf("skipped: %s\n", why.c_str());
        return 0;
    }
    (void)test::execSql(*source, "DROP TABLE IF EXISTS bench_readings");
    std::string columns = "Meter INTEGER, Location VARCHAR(32), Date_Time TIMESTAMP";
    for (int n = 1; n <= 42; ++n) columns += ", Amps" + std::to_string(n) + " FLOAT";
    if (!test::execSql(*source, "CREATE TABLE bench_readings (" + columns + ")")) return 1;

    ConfigurationRecord& config = station.settings();
    config.databaseLogging = DatabaseLoggingState::Active;
    config.database.dsn = source->dsn;
    config.database.table = "bench_readings";
    config.database.links = {{0, SQL_INTEGER, "Meter"}, {1, SQL_VARCHAR, "Location"}, {2, SQL_TIMESTAMP, "Date_Time"}};
    for (int n = 1; n <= 42; ++n) config.database.links.push_back({n + 2, SQL_FLOAT, "Amps" + std::to_string(n)});

    constexpr int kMeters = 10;
    constexpr int kMoments = 300;
    const auto moment = [&](int m) {
        for (int a = 1; a <= kMeters; ++a) {
            auto r = std::make_shared<ReadingsRecord>();
            r->model = 230;
            r->address = a;
            r->time = 1015510500 + m * 300;
            for (int i = 0; i < 42; ++i) r->current[i] = static_cast<float>(i) * 1.5F;
            station.logging().queueForDatabase(r);
        }
        DatabaseRecordWriter(station.logging());
    };
    for (int m = 0; m < 20; ++m) moment(m);  // warm-up: driver, caches
    const long before = test::residentKilobytes();
    const auto start = std::chrono::steady_clock::now();
    for (int m = 0; m < kMoments; ++m) moment(m);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const long after = test::residentKilobytes();
    std::printf("database writer, SQLite, %d meters of 45 columns per moment:\n", kMeters);
    std::printf("  %.2f ms per logging moment (%.3f ms per row)\n", ms / kMoments, ms / (kMoments * kMeters));
    std::printf("  resident memory growth: %ld kB over %d moments (%.2f kB per moment)\n", after - before, kMoments,
                static_cast<double>(after - before) / kMoments);
    std::printf("  messages shown: %zu\n", op.messages.size());
    return op.messages.empty() ? 0 : 1;
}
