// Prints how fast a backlog of 100,000 spooled records drains into the log file, into SQLite and
// into PostgreSQL (when scripts/odbc-test-env.sh started it), how long the longest slice keeps
// the caller (the window's event loop) busy, and the resident memory before and after; then a
// backlog of 20,000 into PostgreSQL through a proxy that delays each way by 20 ms (a site link),
// one INSERT per row for comparison (fewer rows), and as references in the same run the same rows by the sqlite3 and psql shells: the writer's
// INSERTs in one transaction, its lists of rows, and COPY.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "logging/database_record_writer.h"
#include "logging/durable_queue.h"
#include "logging/file_log_writer.h"
#include "logging/odbc_library.h"
#include "delay_proxy.h"
#include "odbc_test_env.h"
#include "resident_memory.h"
#include "recording_operator.h"
#include "station/station.h"

namespace {

using namespace quorna;
using Clock = std::chrono::steady_clock;

constexpr int kMeters = 63;
constexpr int kRecords = 100000;
constexpr int kSlowLinkRecords = 20000;
constexpr int kRowByRowRecords = 20000;
constexpr int kRowByRowSlowRecords = 500;

// The moments of a backlog of 63 Branch meters.
std::vector<std::vector<RecordPtr>> backlog(int count) {
    std::vector<std::vector<RecordPtr>> moments;
    for (int done = 0, moment = 0; done < count; ++moment) {
        std::vector<RecordPtr> records;
        for (int a = 1; a <= kMeters && done < count; ++a, ++done) {
            auto r = std::make_shared<ReadingsRecord>();
            r->model = 230;
            r->address = a;
            r->time = 1765000000 + moment * 60;
            for (int i = 0; i < 42; ++i) r->current[static_cast<std::size_t>(i)] = static_cast<float>(a + i) * 0.125F;
            records.push_back(r);
        }
        moments.push_back(std::move(records));
    }
    return moments;
}

// A week-long outage's worth of moments, straight into the spool.
void fillSpool(Logging& logging, bool toFile, bool toDatabase, int count = kRecords) {
    for (const std::vector<RecordPtr>& records : backlog(count)) (void)logging.spool().append(records, toFile, toDatabase);
}

// Drains as the window does: the writer once, then a slice at a time while it is behind.
void drain(const char* name, Logging& logging, void (*writer)(Logging&), const test::RecordingOperator& op,
           int count = kRecords) {
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
                name, count, seconds, count / seconds, slices, longest, before, test::residentKilobytes(),
                recordsWaiting(logging), op.messages.size());
}

constexpr const char* kColumnNames = "Meter, Location, Date_Time";
std::string tailColumns() {
    std::string columns;
    for (int n = 1; n <= 42; ++n) columns += ", Amps" + std::to_string(n);
    return columns;
}

std::string tableColumns() {
    std::string columns = "Meter INTEGER, Location VARCHAR(32), Date_Time TIMESTAMP";
    for (int n = 1; n <= 42; ++n) columns += ", Amps" + std::to_string(n) + " FLOAT";
    return columns;
}

DatabaseSettings benchLinks(const test::TestDataSource& source, const std::string& dsn) {
    DatabaseSettings database;
    database.dsn = dsn;
    database.user = source.user;
    database.password = source.password;
    database.table = "bench_drain";
    database.links = {{0, SQL_INTEGER, "Meter"}, {1, SQL_VARCHAR, "Location"}, {2, SQL_TIMESTAMP, "Date_Time"}};
    for (int n = 1; n <= 42; ++n) database.links.push_back({n + 2, SQL_FLOAT, "Amps" + std::to_string(n)});
    return database;
}

// The backlog drained by the writer; `dsn` empty: the source's own data source.
void databaseDrain(const char* name, const std::string& dsn = {}, int count = kRecords, bool rowByRow = false) {
    std::string why;
    const auto source = test::testDataSource(name, &why);
    if (!source) {
        std::printf("%s: skipped (%s)\n", name, why.c_str());
        return;
    }
    std::unique_ptr<test::DelayProxy> proxy;
    std::unique_ptr<test::TcpDataSource> slowDsn;
    if (!dsn.empty()) {
        proxy = std::make_unique<test::DelayProxy>(test::testPostgresSocket(), std::chrono::milliseconds(20));
        if (!proxy->listening()) {
            std::printf("%s: skipped (no proxy)\n", dsn.c_str());
            return;
        }
        slowDsn = std::make_unique<test::TcpDataSource>(dsn, proxy->port());
    }
    test::RecordingOperator op;
    Station station(op);
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("quorna-bench-drain-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    station.logging().useStateDirectory(dir.string() + "/");
    (void)station.logging().spool().open(spoolPath(station.logging()));
    (void)test::execSql(*source, "DROP TABLE IF EXISTS bench_drain");
    if (!test::execSql(*source, "CREATE TABLE bench_drain (" + tableColumns() + ")")) return;
    ConfigurationRecord& config = station.settings();
    config.databaseLogging = DatabaseLoggingState::Active;
    config.database = benchLinks(*source, dsn.empty() ? source->dsn : dsn);
    fillSpool(station.logging(), false, true, count);
    station.logging().insertRowByRow(rowByRow);
    const std::string title = std::string("database, ") + name + (dsn.empty() ? "" : " through the 20 ms proxy") +
                              (rowByRow ? ", one INSERT per row" : "");
    drain(title.c_str(), station.logging(), [](Logging& logging) { DatabaseRecordWriter(logging); }, op, count);
    if (proxy) std::printf("  connections through the proxy: %d\n", proxy->connectionsAccepted());
    const auto rows = test::querySql(*source, "SELECT count(*) FROM bench_drain", 1);
    std::printf("  rows in the table: %s\n", rows.empty() ? "?" : rows[0][0].c_str());
    std::filesystem::remove_all(dir);
}

void fileDrain() {
    test::RecordingOperator op;
    Station station(op);
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("quorna-bench-file-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    station.logging().useStateDirectory(dir.string() + "/");
    (void)station.logging().spool().open(spoolPath(station.logging()));
    station.settings().fileLoggingEnabled = true;
    station.settings().logFilePath = (dir / "plant.csv").string();
    fillSpool(station.logging(), true, false);
    drain("log file", station.logging(), FileLogWriter, op);
    std::printf("  file size: %ju bytes\n", static_cast<std::uintmax_t>(std::filesystem::file_size(dir / "plant.csv")));
    std::filesystem::remove_all(dir);
}

// Runs a shell command and prints how fast it stored `count` rows.
void timedReference(const char* name, const std::string& command, int count, const test::TestDataSource& source) {
    (void)test::execSql(source, "DELETE FROM bench_drain");
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const auto rows = test::querySql(source, "SELECT count(*) FROM bench_drain", 1);
    std::printf("reference, %s: %d rows in %.1f s, %.0f rows/s (exit %d, rows in the table: %s)\n", name, count, seconds,
                count / seconds, status, rows.empty() ? "?" : rows[0][0].c_str());
}

// The same rows by the database's own shell: the writer's INSERTs (dates as text, which both
// read; the ODBC escapes are the driver's) in one transaction, its lists of rows, and for
// PostgreSQL COPY from a CSV file.
void shellReferences(const char* name) {
    std::string why;
    const auto source = test::testDataSource(name, &why);
    const char* dir = std::getenv("QUORNA_TEST_ODBC_DIR");
    if (!source || dir == nullptr) return;
    (void)test::execSql(*source, "DROP TABLE IF EXISTS bench_drain");
    if (!test::execSql(*source, "CREATE TABLE bench_drain (" + tableColumns() + ")")) return;
    const DatabaseSettings links = benchLinks(*source, source->dsn);
    const std::filesystem::path work = std::filesystem::temp_directory_path() / ("quorna-bench-ref-" + std::to_string(getpid()));
    std::filesystem::create_directories(work);
    const auto moments = backlog(kRecords);
    {
        std::ofstream rows(work / "rows.sql");
        std::ofstream lists(work / "lists.sql");
        std::ofstream csv(work / "rows.csv");
        rows << "BEGIN;\n";
        lists << "BEGIN;\n";
        std::vector<RecordPtr> pending;
        for (const auto& moment : moments) {
            for (const RecordPtr& r : moment) {
                rows << *insertStatement(*r, links, "Plant", DateLiterals::Text) << "\n";
                pending.push_back(r);
                csv << r->address << ",Plant,";
                char when[32];
                const std::time_t t = r->time;
                std::tm local{};
                localtime_r(&t, &local);
                std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
                csv << when;
                for (int i = 0; i < 42; ++i) {
                    char value[32];
                    std::snprintf(value, sizeof value, ",%.3f", static_cast<double>(r->current[static_cast<std::size_t>(i)]));
                    csv << value;
                }
                csv << "\n";
            }
            if (pending.size() + kMeters > kRowsPerList) {
                for (const std::string& list : insertLists(pending, links, "Plant", DateLiterals::Text)) lists << list << "\n";
                pending.clear();
            }
        }
        for (const std::string& list : insertLists(pending, links, "Plant", DateLiterals::Text)) lists << list << "\n";
        rows << "COMMIT;\n";
        lists << "COMMIT;\n";
    }
    const std::string w = work.string();
    if (source->postgres) {
        const std::string psql = "PGPASSWORD='" + source->password + "' psql -X -q -v ON_ERROR_STOP=1 -h '" +
                                 std::string(dir) + "/pgsock' -p 54329 -U " + source->user + " -d quorna";
        timedReference("psql, the INSERTs in one transaction", psql + " -f '" + w + "/rows.sql' >/dev/null", kRecords, *source);
        timedReference("psql, the lists of rows in one transaction", psql + " -f '" + w + "/lists.sql' >/dev/null", kRecords, *source);
        timedReference("psql, COPY", psql + " -c \"\\copy bench_drain (" + std::string(kColumnNames) + tailColumns() +
                                          ") FROM '" + w + "/rows.csv' WITH (FORMAT csv)\" >/dev/null", kRecords, *source);
    } else {
        const std::string sqlite = "sqlite3 '" + std::string(dir) + "/sqlite/quorna.db'";
        timedReference("sqlite3, the INSERTs in one transaction", sqlite + " < '" + w + "/rows.sql' >/dev/null", kRecords, *source);
        timedReference("sqlite3, the lists of rows in one transaction", sqlite + " < '" + w + "/lists.sql' >/dev/null", kRecords, *source);
    }
    std::filesystem::remove_all(work);
}

}  // namespace

// Runs every part, or only those named: file sqlite postgres slow row-by-row references.
int main(int argc, char** argv) {
    const std::vector<std::string> parts(argv + 1, argv + argc);
    const auto run = [&parts](const char* part) {
        return parts.empty() || std::find(parts.begin(), parts.end(), part) != parts.end();
    };
    test::useTestOdbcEnvironment();
    std::printf("draining a backlog of %d records of %d Branch meters (slice budget %lld ms)\n", kRecords, kMeters,
                static_cast<long long>(kSliceBudget.count()));
    const bool slowLink = !test::testPostgresSocket().empty();
    if (run("file")) fileDrain();
    if (run("sqlite")) databaseDrain("SQLite");
    if (run("postgres")) databaseDrain("PostgreSQL");
    if (run("slow") && slowLink) databaseDrain("PostgreSQL", "QuornaBenchSlowLink", kSlowLinkRecords);
    // One INSERT per row, as for a driver that takes no lists (and as before lists), for comparison.
    if (run("row-by-row")) {
        databaseDrain("SQLite", {}, kRowByRowRecords, true);
        databaseDrain("PostgreSQL", {}, kRowByRowRecords, true);
        if (slowLink) databaseDrain("PostgreSQL", "QuornaBenchSlowLink", kRowByRowSlowRecords, true);
    }
    if (run("references")) {
        shellReferences("SQLite");
        shellReferences("PostgreSQL");
    }
    return 0;
}
