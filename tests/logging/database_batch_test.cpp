// A backlog written as lists of rows: the same rows as one INSERT per row (NULLs, quotes, dates,
// a refused row in the middle of a list), and a backlog drained through a slow link.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "forms/database_link_dialog.h"
#include "logging/database_record_writer.h"
#include "logging/durable_queue.h"
#include "logging/odbc_library.h"
#include "delay_proxy.h"
#include "odbc_test_env.h"
#include "recording_operator.h"
#include "spooled_station.h"
#include "settings/configuration.h"

namespace quorna {
namespace {

using Clock = std::chrono::steady_clock;

// 7 March 2002 at 14:00 local time, plus the minutes.
std::time_t march7(int minutes) {
    std::tm t{};
    t.tm_year = 102;
    t.tm_mon = 2;
    t.tm_mday = 7;
    t.tm_hour = 14;
    t.tm_isdst = -1;
    return std::mktime(&t) + minutes * 60;
}

std::shared_ptr<ReadingsRecord> record(int model, int address, std::time_t time) {
    auto r = std::make_shared<ReadingsRecord>();
    r->model = model;
    r->address = address;
    r->time = time;
    return r;
}

std::shared_ptr<ReadingsRecord> branch(int address, std::time_t time) {
    auto r = record(230, address, time);
    for (int i = 0; i < 42; ++i) r->current[static_cast<std::size_t>(i)] = static_cast<float>(address + i) + 0.25F;
    return r;
}

// Drains as the window does: the writer at the moment, then a slice at a time while it is behind.
// The longest slice after the first (which also connects); -1 when the drain did not end.
double drain(Logging& logging, int maxSlices, double* firstSlice = nullptr, std::vector<double>* slices = nullptr) {
    double longest = 0;
    auto t0 = Clock::now();
    DatabaseRecordWriter(logging);
    if (firstSlice != nullptr) *firstSlice = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    for (int slice = 0; loggingBehind(logging); ++slice) {
        if (slice == maxSlices) return -1;
        t0 = Clock::now();
        (void)catchUpLogging(logging);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        longest = std::max(longest, ms);
        if (slices != nullptr) slices->push_back(ms);
    }
    return longest;
}

TEST(DatabaseInsertLists, RowsOfOneColumnListShareAStatementInTheirOrderAndAListOfOneIsTheOneRowInsert) {
    DatabaseSettings settings;
    settings.table = "Readings";
    settings.links = {{0, SQL_INTEGER, "Meter"}, {1, SQL_VARCHAR, "Location"}, {2, SQL_TIMESTAMP, "Date_Time"},
                      {3, SQL_FLOAT, "Amps1"}, {29, SQL_FLOAT, "Amps27"}};
    auto temperature = record(600, 9, march7(15));
    temperature->values = {21.5F};
    const std::vector<RecordPtr> records{branch(1, march7(15)), branch(2, march7(15)), record(0, 3, march7(15)),
                                         branch(4, march7(15)), temperature, branch(5, march7(16))};
    EXPECT_EQ(insertLists(records, settings, "O'Neil", DateLiterals::Escapes),
              (std::vector<std::string>{
                  "INSERT INTO Readings (Meter, Location, Date_Time, Amps1, Amps27)\n"
                  "  VALUES (1, 'O''Neil', {ts '2002-03-07 14:15:00'}, 1.250, 27.250),\n"
                  "  (2, 'O''Neil', {ts '2002-03-07 14:15:00'}, 2.250, 28.250),\n"
                  "  (4, 'O''Neil', {ts '2002-03-07 14:15:00'}, 4.250, 30.250);",
                  "INSERT INTO Readings (Meter, Location, Amps27)\n  VALUES (9, 'O''Neil', 21.500);",
                  *insertStatement(*records[5], settings, "O'Neil", DateLiterals::Escapes)}))
        << "a failed read has no row; a Temperature meter's columns differ";

    // A long backlog: lists of at most kRowsPerList rows, every row in order, none twice.
    std::vector<RecordPtr> many;
    for (int i = 0; i < 1234; ++i) many.push_back(branch(1 + i % 63, march7(i / 63)));
    const auto lists = insertLists(many, settings, "Plant", DateLiterals::Text);
    ASSERT_EQ(lists.size(), 3U);
    std::size_t rows = 0;
    for (const std::string& list : lists) {
        const auto n = static_cast<std::size_t>(std::count(list.begin(), list.end(), '\n'));
        EXPECT_LE(n, kRowsPerList);
        EXPECT_LE(list.size(), kListBytes + 1000);
        rows += n;
    }
    EXPECT_EQ(rows, many.size());
    // The second list begins with the 501st record's own statement, its row continued.
    std::string first = *insertStatement(*many[kRowsPerList], settings, "Plant", DateLiterals::Text);
    first.back() = ',';
    EXPECT_EQ(lists[1].rfind(first + "\n  (", 0), 0U) << lists[1].substr(0, 200);
}

class BatchedBacklog : public test::RealDatabaseTest {
protected:
    // A fresh station and table, 40 spooled moments of 30 meters, drained one way or the other;
    // the table's rows in the order written (without the key, which a refused insert may use up).
    std::vector<std::vector<std::string>> writeBacklog(bool rowByRow) {
        freshStation();
        const std::string key = source.postgres ? "n SERIAL PRIMARY KEY" : "n INTEGER PRIMARY KEY AUTOINCREMENT";
        freshTable("batch_readings", key + ", Meter INTEGER, Location VARCHAR(32), Date_Time TIMESTAMP, "
                                           "Amps1 FLOAT CHECK (Amps1 < 400), Amps2 FLOAT, Amps27 FLOAT");
        if (HasFatalFailure()) return {};
        station().settings().locationName = "O'Neil's 'North' Plant";
        linkTable("batch_readings", 6);
        if (HasFatalFailure()) return {};
        Logging& logging = station().logging();
        logging.insertRowByRow(rowByRow);
        for (int m = 0; m < kMoments; ++m) {
            const std::time_t time = march7(m);
            for (int a = 1; a <= 26; ++a) {
                auto r = branch(a, time);
                if (m == kRefusedMoment && a == kRefusedMeter) r->current[0] = 450.5F;  // breaks the CHECK
                logging.queueForDatabase(r);
            }
            auto energy = record(8035, 27, time);
            energy->values = {3.5F + static_cast<float>(m), 4.25F};
            logging.queueForDatabase(energy);
            auto temperature = record(600, 28, time);
            temperature->values = {21.5F};
            logging.queueForDatabase(temperature);
            logging.queueForDatabase(record(0, 29, time));  // a failed read: no row
            auto odd = branch(30, time);
            odd->current[1] = std::numeric_limits<float>::quiet_NaN();
            logging.queueForDatabase(odd);
            keepWaitingRecords(logging);
        }
        EXPECT_EQ(recordsWaiting(logging), static_cast<std::size_t>(kMoments * 29)) << "the failed reads are not kept";
        EXPECT_GE(drain(logging, 200), 0) << "the backlog drains";
        EXPECT_TRUE(op.messages.empty()) << op.messages[0].text;
        EXPECT_EQ(recordsWaiting(logging), 1U) << "the refused record waits for the next moment";
        EXPECT_EQ(logging.refusedAtThisMoment().size(), 1U);
        return test::querySql(source, "SELECT Meter, Location, Date_Time, Amps1, Amps2, Amps27 FROM batch_readings ORDER BY n", 6);
    }


    static constexpr int kMoments = 40;
    static constexpr int kRefusedMoment = 17;
    static constexpr int kRefusedMeter = 13;
};

TEST_P(BatchedBacklog, ListsOfRowsStoreExactlyTheRowsOfOneInsertPerRow) {
    const auto oneByOne = writeBacklog(true);
    const auto lists = writeBacklog(false);
    ASSERT_EQ(oneByOne.size(), static_cast<std::size_t>(kMoments * 29 - 1)) << "29 rows a moment, one refused";
    EXPECT_EQ(lists, oneByOne);

    // What is stored, row by row, in the first moment and around the refused row.
    const std::string location = "O'Neil's 'North' Plant";
    const std::string time0 = source.postgres ? "2002-03-07 14:00:00" : "03/07/2002 14:00:00";
    EXPECT_EQ(lists[0][0], "1");
    EXPECT_EQ(lists[0][1], location);
    EXPECT_EQ(lists[0][2].substr(0, 19), time0);
    EXPECT_DOUBLE_EQ(std::stod(lists[0][3]), 1.25);
    EXPECT_DOUBLE_EQ(std::stod(lists[0][5]), 27.25);
    EXPECT_EQ(lists[26], (std::vector<std::string>{"27", location, lists[26][2], lists[26][3], lists[26][4], "NULL"}));
    EXPECT_DOUBLE_EQ(std::stod(lists[26][3]), 3.5);
    EXPECT_EQ(lists[27], (std::vector<std::string>{"28", location, "NULL", "NULL", "NULL", lists[27][5]}))
        << "a Temperature meter logs no time";
    EXPECT_DOUBLE_EQ(std::stod(lists[27][5]), 21.5);
    EXPECT_EQ(lists[28][0], "30");
    EXPECT_EQ(lists[28][4], "NULL") << "a reading that is not a number";
    const std::size_t refusedAt = kRefusedMoment * 29 + kRefusedMeter - 1;
    EXPECT_EQ(lists[refusedAt - 1][0], "12");
    EXPECT_EQ(lists[refusedAt][0], "14") << "meter 13 of that moment is refused, its neighbours are stored";
    EXPECT_EQ(lists[refusedAt][2].substr(14, 2), "17");
    EXPECT_EQ(lists.back()[2].substr(14, 2), "39");
}

TEST_P(BatchedBacklog, AServerRestartBetweenSlicesIsBridgedByAFreshConnectionWithoutAMessage) {
    if (!source.postgres) GTEST_SKIP() << "a SQLite connection is a file: nothing to restart";
    freshTable("batch_readings", "Meter INTEGER, Location VARCHAR(32), Date_Time TIMESTAMP, Amps1 FLOAT, Amps2 FLOAT, Amps27 FLOAT");
    linkTable("batch_readings", 6);
    Logging& logging = station().logging();
    for (int m = 0; m < 150; ++m) {
        for (int a = 1; a <= 63; ++a) logging.queueForDatabase(branch(a, march7(m)));
        keepWaitingRecords(logging);
    }
    DatabaseRecordWriter(logging);
    ASSERT_TRUE(logging.databaseBehind());
    ASSERT_TRUE(logging.keepsDatabaseConnection()) << "kept for the next slice";
    const std::size_t left = recordsWaiting(logging);

    test::takeDatabaseAway(source);  // the server stops and starts again: the kept connection is dead
    test::bringDatabaseBack(source);
    EXPECT_GE(drain(logging, 500), 0);
    EXPECT_TRUE(op.messages.empty()) << op.messages[0].text;
    EXPECT_EQ(recordsWaiting(logging), 0U);
    EXPECT_LT(left, 150U * 63U);
    EXPECT_EQ(test::querySql(source, "SELECT count(*), count(DISTINCT (Meter, Date_Time)) FROM batch_readings", 2),
              (std::vector<std::vector<std::string>>{{"9450", "9450"}}));
}

INSTANTIATE_TEST_SUITE_P(RealDatabases, BatchedBacklog, ::testing::Values("SQLite", "PostgreSQL"), test::DataSourceName());

TEST(DatabaseBacklogThroughASlowLink, TenThousandRowsDrainInSlicesWithinTheBudgetOnOneConnection) {
    const std::string socket = test::testPostgresSocket();
    if (socket.empty()) GTEST_SKIP() << "no PostgreSQL data source: run scripts/odbc-test-env.sh start DIR";
    test::useTestOdbcEnvironment();
    std::string why;
    const auto direct = test::testDataSource("PostgreSQL", &why);
    ASSERT_TRUE(direct) << why;
    test::DelayProxy proxy(socket, std::chrono::milliseconds(20));
    ASSERT_TRUE(proxy.listening());
    const test::TcpDataSource slowDsn("QuornaPostgresSlow", proxy.port());

    std::string columns = "Meter INTEGER, Location VARCHAR(32), Date_Time TIMESTAMP";
    for (int n = 1; n <= 42; ++n) columns += ", Amps" + std::to_string(n) + " FLOAT";
    ASSERT_TRUE(test::execSql(*direct, "DROP TABLE IF EXISTS slow_readings"));
    ASSERT_TRUE(test::execSql(*direct, "CREATE TABLE slow_readings (" + columns + ")"));

    test::RecordingOperator op;
    test::SpooledStation station(op);
    ConfigurationRecord& config = station.settings();
    config.databaseLogging = DatabaseLoggingState::Active;
    config.database.dsn = "QuornaPostgresSlow";
    config.database.user = direct->user;
    config.database.password = direct->password;
    config.database.table = "slow_readings";
    config.database.links = {{0, SQL_INTEGER, "Meter"}, {1, SQL_VARCHAR, "Location"}, {2, SQL_TIMESTAMP, "Date_Time"}};
    for (int n = 1; n <= 42; ++n) config.database.links.push_back({n + 2, SQL_FLOAT, "Amps" + std::to_string(n)});
    config.locationName = "Site 'B'";

    // 10,000 records of 63 Branch meters, a moment a minute, spooled while the link was down.
    constexpr int kRecords = 10000;
    Logging& logging = station.logging();
    for (int done = 0, m = 0; done < kRecords; ++m) {
        for (int a = 1; a <= 63 && done < kRecords; ++a, ++done) logging.queueForDatabase(branch(a, march7(m)));
        keepWaitingRecords(logging);
    }
    ASSERT_EQ(recordsWaiting(logging), static_cast<std::size_t>(kRecords));

    const auto start = Clock::now();
    double firstSlice = 0;
    std::vector<double> slices;
    const double longest = drain(logging, 400, &firstSlice, &slices);
    std::sort(slices.begin(), slices.end());
    if (!slices.empty())
        std::printf("%zu slices after the first: median %.0f ms, 90th percentile %.0f ms\n", slices.size(),
                    slices[slices.size() / 2], slices[slices.size() * 9 / 10]);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_GE(longest, 0) << "drained within 400 slices";
    EXPECT_TRUE(op.messages.empty()) << op.messages[0].text;
    EXPECT_EQ(recordsWaiting(logging), 0U);
    // The budget is 150 ms; a slice ends before a list its predecessors say would overrun it. The
    // machine's load moves single slices, so the typical slice is held to the budget and the
    // longest to well below what one moment's rows a row at a time take through this link (~3 s).
    ASSERT_FALSE(slices.empty());
    EXPECT_LE(slices[slices.size() / 2], 250.0) << "the typical slice keeps to the budget";
    EXPECT_LE(longest, 1000.0) << "no slice runs far past the budget";
    EXPECT_EQ(proxy.connectionsAccepted(), 1) << "one connection for the whole backlog";
    EXPECT_FALSE(logging.keepsDatabaseConnection()) << "closed once the backlog is written";
    RecordProperty("rows_per_second", static_cast<int>(kRecords / seconds));
    std::printf("10,000 rows through the 20 ms link in %.1f s (%.0f rows/s); first slice %.0f ms, longest after it %.0f ms\n",
                seconds, kRecords / seconds, firstSlice, longest);

    // Nothing lost, nothing doubled.
    EXPECT_EQ(test::querySql(*direct,
                             "SELECT count(*), count(DISTINCT (Meter, Date_Time)), min(Meter), max(Meter), "
                             "count(DISTINCT Location) FROM slow_readings", 5),
              (std::vector<std::vector<std::string>>{{"10000", "10000", "1", "63", "1"}}));
    EXPECT_EQ(test::querySql(*direct, "SELECT Location, Amps42 FROM slow_readings WHERE Meter = 63 ORDER BY Date_Time LIMIT 1", 2),
              (std::vector<std::vector<std::string>>{{"Site 'B'", "104.25"}}));
    ASSERT_TRUE(test::execSql(*direct, "DROP TABLE slow_readings"));
}

}  // namespace
}  // namespace quorna
