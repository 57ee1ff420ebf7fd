// The database writer: the literal each variable becomes, the INSERT text, and real logging
// moments into SQLite and PostgreSQL, including a database that is away for two moments.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <ctime>
#include <limits>
#include <memory>
#include <unistd.h>

#include "forms/database_link_dialog.h"
#include <filesystem>
#include <fstream>
#include <iterator>

#include "logging/database_record_writer.h"
#include "logging/durable_queue.h"
#include "logging/odbc_library.h"
#include "logging/readings_record.h"
#include "logging/variable_table.h"
#include "metersim_harness.h"
#include "odbc_test_env.h"
#include "recording_operator.h"
#include "silent_server.h"
#include "spooled_station.h"
#include "settings/configuration.h"

namespace quorna {
namespace {

using test::RecordingOperator;

// 7 March 2002 at the given local time.
std::time_t march7(int hour, int minute) {
    std::tm t{};
    t.tm_year = 102;
    t.tm_mon = 2;
    t.tm_mday = 7;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_isdst = -1;
    return std::mktime(&t);
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
    for (int i = 0; i < 42; ++i) r->current[i] = static_cast<float>(address * 100 + i + 1) + 0.25F;
    return r;
}

TEST(FormatValue, EachVariableAndColumnTypeGivesItsLiteral) {
    auto r = branch(1, march7(14, 15));
    r->current[0] = 12.34F;
    EXPECT_EQ(formatValue(kMeterVariable, *r, SQL_VARCHAR, "Here", DateLiterals::Text), "'1'");
    EXPECT_EQ(formatValue(kMeterVariable, *r, SQL_INTEGER, "Here", DateLiterals::Text), "1");
    EXPECT_EQ(formatValue(kMeterVariable, *r, SQL_BIGINT, "Here", DateLiterals::Text), "1");
    EXPECT_EQ(formatValue(kMeterVariable, *r, SQL_DATE, "Here", DateLiterals::Text), "NULL");
    EXPECT_EQ(formatValue(kFirstAmpsVariable, *r, SQL_VARCHAR, "Here", DateLiterals::Text), "'12.340'");
    EXPECT_EQ(formatValue(kFirstAmpsVariable, *r, SQL_DOUBLE, "Here", DateLiterals::Text), "12.340");
    EXPECT_EQ(formatValue(kFirstAmpsVariable, *r, SQL_TIMESTAMP, "Here", DateLiterals::Text), "NULL");
    EXPECT_EQ(formatValue(kLocationVariable, *r, SQL_CHAR, "North Plant", DateLiterals::Text), "'North Plant'");
    EXPECT_EQ(formatValue(kLocationVariable, *r, SQL_INTEGER, "North Plant", DateLiterals::Text), "NULL");
    EXPECT_EQ(formatValue(kDateTimeVariable, *r, SQL_TIMESTAMP, "Here", DateLiterals::Text), "'03/07/2002 14:15:00'");
    EXPECT_EQ(formatValue(kDateTimeVariable, *r, SQL_DATE, "Here", DateLiterals::Text), "'03/07/2002 14:15:00'");
    EXPECT_EQ(formatValue(kDateTimeVariable, *r, SQL_VARCHAR, "Here", DateLiterals::Text), "'03/07/2002 14:15:00'");
    EXPECT_EQ(formatValue(kDateTimeVariable, *r, SQL_TIME, "Here", DateLiterals::Text), "'14:15:00'");
    EXPECT_EQ(formatValue(kDateTimeVariable, *r, SQL_INTEGER, "Here", DateLiterals::Text), "NULL");
    // Where the database reads the date: the ODBC escapes, year first; a text column keeps its text.
    EXPECT_EQ(formatValue(kDateTimeVariable, *r, SQL_TIMESTAMP, "Here", DateLiterals::Escapes), "{ts '2002-03-07 14:15:00'}");
    EXPECT_EQ(formatValue(kDateTimeVariable, *r, SQL_DATE, "Here", DateLiterals::Escapes), "{d '2002-03-07'}");
    EXPECT_EQ(formatValue(kDateTimeVariable, *r, SQL_TIME, "Here", DateLiterals::Escapes), "{t '14:15:00'}");
    EXPECT_EQ(formatValue(kDateTimeVariable, *r, SQL_VARCHAR, "Here", DateLiterals::Escapes), "'03/07/2002 14:15:00'");
    EXPECT_EQ(formatValue(kDateTimeVariable, *r, SQL_INTEGER, "Here", DateLiterals::Escapes), "NULL");
    EXPECT_EQ(formatValue(kMeterVariable, *r, SQL_INTEGER, "Here", DateLiterals::Escapes), "1");
    EXPECT_EQ(dateLiteralsFor("SQLite"), DateLiterals::Text);
    EXPECT_EQ(dateLiteralsFor("PostgreSQL"), DateLiterals::Escapes);
    EXPECT_EQ(dateLiteralsFor(""), DateLiterals::Escapes);
}

TEST(FormatValue, QuotesInsideALocationAreDoubled) {
    auto r = branch(1, march7(14, 15));
    EXPECT_EQ(formatValue(kLocationVariable, *r, SQL_VARCHAR, "O'Neil's plant", DateLiterals::Text), "'O''Neil''s plant'");
    EXPECT_EQ(formatValue(kLocationVariable, *r, SQL_VARCHAR, "x'); DROP TABLE readings; --", DateLiterals::Text),
              "'x''); DROP TABLE readings; --'");
}

TEST(FormatValue, MetersOtherThanBranchGiveTheValuesTheyRead) {
    auto energy = record(8035, 7, march7(14, 15));
    energy->values = {3.5F, 4.25F};
    EXPECT_EQ(formatValue(kFirstAmpsVariable + 1, *energy, SQL_FLOAT, "", DateLiterals::Text), "4.250");
    auto temperature = record(600, 9, march7(14, 15));
    temperature->values = {21.5F};
    EXPECT_EQ(formatValue(kFirstAmpsVariable + 26, *temperature, SQL_FLOAT, "", DateLiterals::Text), "21.500");
    auto fullData = record(8036, 8, march7(14, 15));
    fullData->values = {1.0F, 2.0F};  // fewer values than the model carries: the rest is NULL
    EXPECT_EQ(formatValue(kFirstAmpsVariable + 1, *fullData, SQL_FLOAT, "", DateLiterals::Text), "2.000");
    EXPECT_EQ(formatValue(kFirstAmpsVariable + 2, *fullData, SQL_FLOAT, "", DateLiterals::Text), "NULL");
}

TEST(FormatValue, AValueThatIsNotANumberIsWrittenAsNull) {
    auto energy = record(8035, 7, march7(14, 15));
    for (const float odd : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity()}) {
        energy->values = {odd, 1.5F};
        EXPECT_EQ(formatValue(kFirstAmpsVariable, *energy, SQL_FLOAT, "", DateLiterals::Text), "NULL");
        EXPECT_EQ(formatValue(kFirstAmpsVariable, *energy, SQL_VARCHAR, "", DateLiterals::Text), "NULL");
        EXPECT_EQ(formatValue(kFirstAmpsVariable + 1, *energy, SQL_FLOAT, "", DateLiterals::Text), "1.500");
    }
}

TEST(InsertStatement, OnlyTheVariablesOfTheRecordsModelInLinkOrder) {
    DatabaseSettings settings;
    settings.table = "Readings";
    settings.links = {{0, SQL_INTEGER, "Meter"}, {1, SQL_VARCHAR, "Location"}, {2, SQL_TIMESTAMP, "Date_Time"},
                      {3, SQL_INTEGER, "Amps1"}};
    auto r = branch(1, march7(14, 15));
    r->current[0] = 12.34F;
    EXPECT_EQ(insertStatement(*r, settings, "Here", DateLiterals::Text),
              "INSERT INTO Readings (Meter, Location, Date_Time, Amps1)\n  VALUES (1, 'Here', '03/07/2002 14:15:00', 12.340);");

    settings.links = {{7, SQL_FLOAT, "A5"}, {0, SQL_INTEGER, "M"}};
    EXPECT_EQ(insertStatement(*r, settings, "Here", DateLiterals::Text), "INSERT INTO Readings (A5, M)\n  VALUES (105.250, 1);");

    settings.links = {{0, SQL_INTEGER, "Meter"}, {2, SQL_TIMESTAMP, "Date_Time"}, {3, SQL_FLOAT, "Amps1"},
                      {5, SQL_FLOAT, "Amps3"}, {29, SQL_FLOAT, "Amps27"}, {31, SQL_FLOAT, "Amps29"}};
    auto temperature = record(600, 9, march7(14, 15));
    temperature->values = {21.5F};
    EXPECT_EQ(insertStatement(*temperature, settings, "Here", DateLiterals::Text), "INSERT INTO Readings (Meter, Amps27)\n  VALUES (9, 21.500);");
    auto energy = record(8035, 7, march7(14, 15));
    energy->values = {3.5F, 4.25F};
    EXPECT_EQ(insertStatement(*energy, settings, "Here", DateLiterals::Text),
              "INSERT INTO Readings (Meter, Date_Time, Amps1)\n  VALUES (7, '03/07/2002 14:15:00', 3.500);");
    EXPECT_FALSE(insertStatement(*record(0, 3, march7(14, 15)), settings, "Here", DateLiterals::Text));
    EXPECT_FALSE(variableIncluded(8036, kFirstAmpsVariable + 3)) << "a Full-Data meter has three values";
    EXPECT_TRUE(variableIncluded(8036, kFirstAmpsVariable + 2));
}

class DatabaseWriter : public test::RealDatabaseTest {
protected:
    void SetUp() override {
        RealDatabaseTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        const std::string key = source.postgres ? "n SERIAL PRIMARY KEY" : "n INTEGER PRIMARY KEY AUTOINCREMENT";
        freshTable("readings", key + ", Meter INTEGER, Location VARCHAR(32), Date_Time TIMESTAMP, Amps1 FLOAT, "
                                     "Amps2 FLOAT, Amps27 FLOAT");
        station().settings().locationName = "O'Neil Plant";
        // The operator links the table in the setup window; every column but n links itself.
        linkTable("readings", 6);
    }


    void TearDown() override {
        if (databaseAway) test::bringDatabaseBack(source);
        if (dateStyleChanged) {
            EXPECT_TRUE(test::execSql(source, "ALTER ROLE CURRENT_USER RESET DateStyle"));
        }
        RealDatabaseTest::TearDown();
    }

    // One logging moment: a Branch meter at 1 and 5, an Energy-Only meter at 7, a Temperature
    // meter at 9 and a failed read at 11, then the writer.
    void loggingMoment(std::time_t time) {
        station().logging().queueForDatabase(branch(1, time));
        station().logging().queueForDatabase(branch(5, time));
        auto energy = record(8035, 7, time);
        energy->values = {3.5F, 4.25F};
        station().logging().queueForDatabase(energy);
        auto temperature = record(600, 9, time);
        temperature->values = {21.5F};
        station().logging().queueForDatabase(temperature);
        station().logging().queueForDatabase(record(0, 11, time));
        DatabaseRecordWriter(station().logging());
    }

    std::vector<std::vector<std::string>> storedRows() {
        return test::querySql(source, "SELECT Meter, Location, Date_Time, Amps1, Amps2, Amps27 FROM readings ORDER BY n", 6);
    }

    // The time as the database gives it back: PostgreSQL keeps a timestamp and shows it in ISO
    // form; SQLite keeps the literal's text as it was written.
    [[nodiscard]] std::string storedTime(const char* isoTime, const char* writtenTime) const {
        return source.postgres ? isoTime : writtenTime;
    }

    static void expectMoment(const std::vector<std::vector<std::string>>& rows, std::size_t first, const std::string& time) {
        ASSERT_GE(rows.size(), first + 4);
        const std::vector<std::string> meters{"1", "5", "7", "9"};
        for (std::size_t i = 0; i < 4; ++i) {
            const auto& row = rows[first + i];
            EXPECT_EQ(row[0], meters[i]);
            EXPECT_EQ(row[1], "O'Neil Plant");
            if (i < 3) {
                EXPECT_EQ(row[2].substr(0, 19), time) << "row " << first + i;
            } else {
                EXPECT_EQ(row[2], "NULL") << "a Temperature meter does not log the time";
            }
        }
        EXPECT_DOUBLE_EQ(std::stod(rows[first][3]), 101.25);
        EXPECT_DOUBLE_EQ(std::stod(rows[first][4]), 102.25);
        EXPECT_DOUBLE_EQ(std::stod(rows[first][5]), 127.25);
        EXPECT_DOUBLE_EQ(std::stod(rows[first + 1][3]), 501.25);
        EXPECT_DOUBLE_EQ(std::stod(rows[first + 2][3]), 3.5);
        EXPECT_DOUBLE_EQ(std::stod(rows[first + 2][4]), 4.25);
        EXPECT_EQ(rows[first + 2][5], "NULL");
        EXPECT_EQ(rows[first + 3][3], "NULL");
        EXPECT_DOUBLE_EQ(std::stod(rows[first + 3][5]), 21.5);
    }

    bool databaseAway = false;
    bool dateStyleChanged = false;
};

TEST_P(DatabaseWriter, ALoggingMomentInsertsOneRowPerMeterWithReadings) {
    loggingMoment(march7(14, 15));
    EXPECT_TRUE(op.messages.empty()) << op.messages[0].text;
    EXPECT_TRUE(station().logging().databaseQueue().empty());
    const auto rows = storedRows();
    ASSERT_EQ(rows.size(), 4U) << "the failed read at address 11 adds no row";
    expectMoment(rows, 0, storedTime("2002-03-07 14:15:00", "03/07/2002 14:15:00"));
}

TEST_P(DatabaseWriter, NothingIsLostWhileTheDatabaseIsAway) {
    test::takeDatabaseAway(source);
    databaseAway = true;
    loggingMoment(march7(14, 15));
    loggingMoment(march7(14, 20));
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Error connecting", "Error connecting"}));
    EXPECT_EQ(station().logging().databaseQueue().size(), 10U);
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Active);

    test::bringDatabaseBack(source);
    databaseAway = false;
    loggingMoment(march7(14, 25));
    EXPECT_EQ(op.messages.size(), 2U);
    EXPECT_TRUE(station().logging().databaseQueue().empty());
    const auto rows = storedRows();
    ASSERT_EQ(rows.size(), 12U) << "three moments of four rows each, none lost or doubled";
    expectMoment(rows, 0, storedTime("2002-03-07 14:15:00", "03/07/2002 14:15:00"));
    expectMoment(rows, 4, storedTime("2002-03-07 14:20:00", "03/07/2002 14:20:00"));
    expectMoment(rows, 8, storedTime("2002-03-07 14:25:00", "03/07/2002 14:25:00"));
}

TEST_P(DatabaseWriter, AFailingInsertHoldsTheQueueUntilItSucceeds) {
    ASSERT_TRUE(test::execSql(source, "DROP TABLE readings"));
    loggingMoment(march7(14, 15));
    ASSERT_EQ(op.messages.size(), 1U);
    EXPECT_EQ(op.messages[0].text.rfind("Error # -1  ", 0), 0U) << op.messages[0].text;
    EXPECT_EQ(station().logging().databaseQueue().size(), 5U) << "the failing record and every one behind it wait";

    loggingMoment(march7(14, 20));
    EXPECT_EQ(op.messages.size(), 2U) << "every moment retries and tells again";

    freshTable("readings", (source.postgres ? std::string("n SERIAL PRIMARY KEY") : std::string("n INTEGER PRIMARY KEY AUTOINCREMENT")) +
                               ", Meter INTEGER, Location VARCHAR(32), Date_Time TIMESTAMP, Amps1 FLOAT, Amps2 FLOAT, Amps27 FLOAT");
    loggingMoment(march7(14, 25));
    EXPECT_EQ(op.messages.size(), 2U);
    const auto rows = storedRows();
    ASSERT_EQ(rows.size(), 12U);
    expectMoment(rows, 0, storedTime("2002-03-07 14:15:00", "03/07/2002 14:15:00"));
    expectMoment(rows, 8, storedTime("2002-03-07 14:25:00", "03/07/2002 14:25:00"));
}

TEST_P(DatabaseWriter, ItsNoticeHoldsNothingAndIsNotRepeatedWhileItsBoxIsOpen) {
    test::takeDatabaseAway(source);
    databaseAway = true;
    op.leaveBoxesOpen = true;  // nobody at the desk
    loggingMoment(march7(14, 15));
    EXPECT_EQ(op.texts(), std::vector<std::string>{"Error connecting"});
    EXPECT_EQ(op.messages[0].severity, Severity::Error);
    EXPECT_EQ(recordsWaiting(station().logging()), 5U) << "the moment ended, its rows waiting for the database";
    loggingMoment(march7(14, 16));
    EXPECT_EQ(op.texts(), std::vector<std::string>{"Error connecting"});
    EXPECT_EQ(recordsWaiting(station().logging()), 10U);
}

TEST_P(DatabaseWriter, ARecordRefusedForItsDataIsPutAsideAtItsThirdMomentAndTheRestGoesOn) {
    const std::string key = source.postgres ? "n SERIAL PRIMARY KEY" : "n INTEGER PRIMARY KEY AUTOINCREMENT";
    // Meter 5's first current (501.25 A) breaks the table's rule; the others keep it.
    freshTable("readings", key + ", Meter INTEGER, Location VARCHAR(32), Date_Time TIMESTAMP, "
                                 "Amps1 FLOAT CHECK (Amps1 < 400), Amps2 FLOAT, Amps27 FLOAT");
    const std::string state = station().logging().stateDirectory();
    const auto spooledMoment = [&](std::time_t time) {
        station().logging().startMoment();  // a new moment, as the sampler starts one
        station().logging().queueForDatabase(branch(1, time));
        station().logging().queueForDatabase(branch(5, time));
        auto temperature = record(600, 9, time);
        temperature->values = {21.5F};
        station().logging().queueForDatabase(temperature);
        keepWaitingRecords(station().logging());
        DatabaseRecordWriter(station().logging());
    };
    spooledMoment(march7(14, 15));
    spooledMoment(march7(14, 20));
    EXPECT_TRUE(op.messages.empty()) << "a refusal holds nothing up and is not shown at every moment";
    EXPECT_EQ(recordsWaiting(station().logging()), 2U);
    EXPECT_FALSE(std::filesystem::exists(state + kRejectedFileName));

    spooledMoment(march7(14, 25));  // 14:15's refused record has had its three tries
    spooledMoment(march7(14, 30));  // and 14:20's
    EXPECT_EQ(op.texts(), std::vector<std::string>{kRejectedText}) << "said once per run";
    EXPECT_EQ(recordsWaiting(station().logging()), 2U) << "14:25 and 14:30 have their tries to come";

    const auto rows = test::querySql(source, "SELECT Meter, Amps1 FROM readings ORDER BY n", 2);
    ASSERT_EQ(rows.size(), 8U);
    for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i][0], i % 2 == 0 ? "1" : "9") << i;

    std::ifstream in(state + kRejectedFileName);
    const std::string rejected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(rejected.rfind("03/07/2002 14:15:00  meter 5\nINSERT INTO readings (", 0), 0U) << rejected;
    EXPECT_NE(rejected.find("501.250"), std::string::npos);
    EXPECT_NE(rejected.find("\nError # -1  "), std::string::npos);
    EXPECT_NE(rejected.find("03/07/2002 14:20:00  meter 5\n"), std::string::npos);
}

TEST_P(DatabaseWriter, RowsSpooledWhileTheDatabaseWasAwayAreWrittenFirstByTheNextRun) {
    std::string state = (std::filesystem::temp_directory_path() / "quorna-db-spool.XXXXXX").string();
    ASSERT_NE(::mkdtemp(state.data()), nullptr);
    state += "/";
    station().logging().useStateDirectory(state);
    const DatabaseSettings linked = station().settings().database;
    const auto spooledMoment = [&](std::time_t time) {
        station().logging().queueForDatabase(branch(1, time));
        station().logging().queueForDatabase(branch(5, time));
        keepWaitingRecords(station().logging());
        DatabaseRecordWriter(station().logging());
    };
    test::takeDatabaseAway(source);
    databaseAway = true;
    spooledMoment(march7(14, 15));
    spooledMoment(march7(14, 20));
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Error connecting", "Error connecting"}));

    // The program stops and starts again on the same spool; the database is back.
    freshStation();
    station().logging().useStateDirectory(state);
    station().settings().database = linked;
    station().settings().databaseLogging = DatabaseLoggingState::Active;
    test::bringDatabaseBack(source);
    databaseAway = false;
    spooledMoment(march7(14, 25));
    EXPECT_EQ(op.messages.size(), 2U);
    EXPECT_EQ(recordsWaiting(station().logging()), 0U);
    const auto rows = test::querySql(source, "SELECT Meter, Date_Time FROM readings ORDER BY n", 2);
    ASSERT_EQ(rows.size(), 6U);
    const char* const minutes[] = {"15", "15", "20", "20", "25", "25"};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i][0], i % 2 == 0 ? "1" : "5");
        EXPECT_EQ(rows[i][1].substr(source.postgres ? 14 : 14, 2), minutes[i]) << rows[i][1];
    }
    std::error_code ignored;
    std::filesystem::remove_all(state, ignored);
}

// 15:42:38 on a day of December 2026 (local time).
std::time_t december2026(int day) {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = day;
    t.tm_hour = 15;
    t.tm_min = 42;
    t.tm_sec = 38;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

TEST_P(DatabaseWriter, TheMomentStoredIsTheMomentReadWhateverTheServersDateOrder) {
    // PostgreSQL reads the day first or the month first as its DateStyle says; every new
    // connection of the test's account takes the order set here. SQLite keeps the text it gets.
    const std::vector<std::string> orders =
        source.postgres ? std::vector<std::string>{"ISO, DMY", "ISO, MDY"} : std::vector<std::string>{"(text)"};
    for (const std::string& order : orders) {
        SCOPED_TRACE(order);
        if (source.postgres) {
            ASSERT_TRUE(test::execSql(source, "ALTER ROLE CURRENT_USER SET DateStyle TO '" + order + "'"));
            dateStyleChanged = true;
            ASSERT_EQ(test::querySql(source, "SHOW DateStyle", 1), (std::vector<std::vector<std::string>>{{order}}));
        }
        ASSERT_TRUE(test::execSql(source, "DELETE FROM readings"));
        loggingMoment(december2026(9));   // 12/09: a day that could be read as a month
        loggingMoment(december2026(13));  // 12/13: a day that cannot
        EXPECT_TRUE(op.messages.empty()) << op.messages[0].text;
        EXPECT_EQ(recordsWaiting(station().logging()), 0U);
        EXPECT_FALSE(std::filesystem::exists(station().logging().stateDirectory() + kRejectedFileName));
        const auto rows = storedRows();
        ASSERT_EQ(rows.size(), 8U);
        expectMoment(rows, 0, storedTime("2026-12-09 15:42:38", "12/09/2026 15:42:38"));
        expectMoment(rows, 4, storedTime("2026-12-13 15:42:38", "12/13/2026 15:42:38"));
        if (source.postgres) {
            // The server's own reading of the stored moments: day and month.
            EXPECT_EQ(test::querySql(source,
                                     "SELECT DISTINCT EXTRACT(DAY FROM Date_Time), EXTRACT(MONTH FROM Date_Time) "
                                     "FROM readings WHERE Date_Time IS NOT NULL ORDER BY 1", 2),
                      (std::vector<std::vector<std::string>>{{"9", "12"}, {"13", "12"}}));
        }
    }
}

TEST_P(DatabaseWriter, ATableNameWithASpaceAndColumnsWhoseCaseTheDatabaseKeepsAreQuoted) {
    const std::string key = source.postgres ? "n SERIAL PRIMARY KEY" : "n INTEGER PRIMARY KEY AUTOINCREMENT";
    // "Meter" and "Amps1" keep their capitals in PostgreSQL; location is a plain lower-case name
    // and Date_Time is folded to date_time by PostgreSQL.
    freshTable("\"My Readings\"", key + ", \"Meter\" INTEGER, location VARCHAR(32), Date_Time TIMESTAMP, \"Amps1\" FLOAT");
    linkTable("My Readings", 4);
    const DatabaseSettings& linked = station().settings().database;
    EXPECT_EQ(linked.table, "\"My Readings\"");
    std::vector<std::string> columns;
    for (const ColumnLink& l : linked.links) columns.push_back(l.columnName);
    EXPECT_EQ(columns, source.postgres ? (std::vector<std::string>{"\"Meter\"", "location", "date_time", "\"Amps1\""})
                                       : (std::vector<std::string>{"Meter", "location", "Date_Time", "Amps1"}));

    // The link survives the settings file as it is.
    const std::string file = (std::filesystem::temp_directory_path() / ("quorna-names-" + std::to_string(::getpid()) + ".cfg")).string();
    std::ofstream(file) << configurationText(station().settings(), station().bus().link(), SaveRequest{"O'Neil Plant"});
    ConfigurationRecord read;
    SerialLink readLink;
    ASSERT_TRUE(readConfiguration(read, readLink, file.c_str()));
    std::filesystem::remove(file);
    EXPECT_EQ(read.database.table, linked.table);
    ASSERT_EQ(read.database.links.size(), linked.links.size());
    for (std::size_t i = 0; i < linked.links.size(); ++i) EXPECT_EQ(read.database.links[i].columnName, columns[i]);

    loggingMoment(march7(14, 15));
    EXPECT_TRUE(op.messages.empty()) << op.messages[0].text;
    EXPECT_EQ(recordsWaiting(station().logging()), 0U);
    const auto rows = test::querySql(source, "SELECT \"Meter\", location, Date_Time, \"Amps1\" FROM \"My Readings\" ORDER BY n", 4);
    ASSERT_EQ(rows.size(), 4U) << "one row per meter with readings";
    EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "O'Neil Plant", storedTime("2002-03-07 14:15:00", "03/07/2002 14:15:00"),
                                                 rows[0][3]}));
    EXPECT_DOUBLE_EQ(std::stod(rows[0][3]), 101.25);
    EXPECT_EQ(rows[3][0], "9");
}

TEST_P(DatabaseWriter, MomentsGoOnWhileTheErrorConnectingBoxStaysOpen) {
    // The window on a simulated bus, logging two Branch meters to a file and to the database.
    test::MeterSimulator sim({"--meter", "1:230", "--meter", "2:230"});
    sim.useAsComPort(2);
    const std::string dir = sim.tempDir() + "/";
    const std::string logPath = dir + "readings.csv";
    std::string text = "location North Plant\ninterval 1\nport COM2:\nspeed 2048\nparity 0\nscan 3\nsave_file " + logPath +
                       "\nformat 1\ndsn " + source.dsn + "\ntable readings\n";
    if (!source.user.empty()) text += "user " + source.user + "\npasswd " + source.password + "\n";
    text += "link 0 4 Meter\nlink 1 12 Location\nlink 2 11 Date_Time\nlink 3 6 Amps1\n";
    std::ofstream(dir + "Quorna.cfg") << text;
    station().useConfigFile(dir + "Quorna.cfg");
    station().settings().database.clear();  // the file's link takes the place of the fixture's
    ASSERT_TRUE(station().readSettings());
    ASSERT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Active);
    std::time_t now = march7(14, 15);
    station().logging().useClock([&now] { return now; });
    const auto lines = [&logPath] {
        std::ifstream in(logPath);
        const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), '\n'));
    };

    // Nobody answers the box: two more moments pass while it is open.
    test::takeDatabaseAway(source);
    databaseAway = true;
    std::size_t linesWhileOpen = 0;
    std::size_t waitingWhileOpen = 0;
    op.leaveBoxesOpen = true;
    station().PollingCycle();  // opens the port, finds the meters, logs 14:15
    for (int k = 0; k < 2; ++k) {
        now += 60;
        station().PollingCycle();
    }
    linesWhileOpen = lines();
    waitingWhileOpen = recordsWaiting(station().logging());
    EXPECT_EQ(linesWhileOpen, 6U) << "14:15, 14:16 and 14:17 reach the file while the box is open";
    EXPECT_EQ(waitingWhileOpen, 6U) << "and wait in the spool for the database";
    EXPECT_EQ(op.texts(), std::vector<std::string>{"Error connecting"}) << "the open box is not shown again";
    EXPECT_EQ(station().logging().nextMoment(), march7(14, 18));

    // Answered, and the database is back: the next moment writes everything, oldest first.
    op.answerBoxes();
    op.leaveBoxesOpen = false;
    test::bringDatabaseBack(source);
    databaseAway = false;
    now = march7(14, 18);
    station().PollingCycle();
    for (int slice = 0; slice < 50 && station().catchUp(); ++slice) {
    }  // the window's slices between ticks
    EXPECT_EQ(op.messages.size(), 1U) << ::testing::PrintToString(op.texts());
    EXPECT_EQ(lines(), 8U);
    EXPECT_EQ(recordsWaiting(station().logging()), 0U);
    const auto rows = test::querySql(source, "SELECT Meter, Date_Time FROM readings ORDER BY n", 2);
    ASSERT_EQ(rows.size(), 8U);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i][0], i % 2 == 0 ? "1" : "2");
        const std::string minute = std::to_string(15 + i / 2);
        EXPECT_EQ(rows[i][1].substr(0, 19), storedTime(("2002-03-07 14:" + minute + ":00").c_str(),
                                                       ("03/07/2002 14:" + minute + ":00").c_str()));
    }
}

// The window's tick with a database to connect to: the tick does not wait for the connect. The
// moment's rows wait in the spool while it runs and arrive by the catch-up slices that follow.
TEST_P(DatabaseWriter, TheTickDoesNotWaitForTheConnectAndTheRowsArriveByTheSlicesThatFollow) {
    test::MeterSimulator sim({"--meter", "1:230", "--meter", "2:230"});
    sim.useAsComPort(2);
    const std::string dir = sim.tempDir() + "/";
    std::string text = "location North Plant\ninterval 1\nport COM2:\nspeed 2048\nparity 0\nscan 3\ndsn " +
                       source.dsn + "\ntable readings\n";
    if (!source.user.empty()) text += "user " + source.user + "\npasswd " + source.password + "\n";
    text += "link 0 4 Meter\nlink 2 11 Date_Time\n";
    std::ofstream(dir + "Quorna.cfg") << text;
    station().useConfigFile(dir + "Quorna.cfg");
    station().settings().database.clear();
    ASSERT_TRUE(station().readSettings());
    std::time_t now = march7(14, 15);
    station().logging().useClock([&now] { return now; });
    station().tick();  // opens the port and begins the scan
    while (station().scanStep()) {
    }
    station().tick();  // the moment: the meters are read in its steps, the connect begins
    while (station().step()) {
    }
    EXPECT_EQ(recordsWaiting(station().logging()), 2U) << "the rows wait while the connect runs";
    EXPECT_TRUE(loggingBehind(station().logging()));
    int slices = 0;
    while (station().catchUp() && slices < 200) ++slices;
    EXPECT_TRUE(op.messages.empty()) << op.messages[0].text;
    EXPECT_EQ(recordsWaiting(station().logging()), 0U);
    const auto rows = test::querySql(source, "SELECT Meter, Date_Time FROM readings ORDER BY n", 2);
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_EQ(rows[0][0], "1");
    EXPECT_EQ(rows[1][0], "2");
    EXPECT_EQ(rows[1][1].substr(0, 19), storedTime("2002-03-07 14:15:00", "03/07/2002 14:15:00"));

    // The next moment connects afresh in the same way (the backlog's connection went when it was written).
    now += 60;
    station().tick();
    while (station().step()) {
    }
    while (station().catchUp() && slices < 400) ++slices;
    EXPECT_EQ(test::querySql(source, "SELECT Meter FROM readings", 1).size(), 4U);
    EXPECT_EQ(recordsWaiting(station().logging()), 0U);
}

// A database server that accepts the connection and never answers: the tick and every catch-up
// slice give the window back at once while the connect waits out the login time-out; the failure
// is then told as before ("Error connecting", once) and the rows stay in the spool. A station
// that ends while a connect waits ends within the login time-out.
TEST(DatabaseWriterSilentServer, TheTickAndTheSlicesReturnAtOnceAndTheFailureIsToldAsBefore) {
    if (!std::filesystem::exists("/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so"))
        GTEST_SKIP() << "the PostgreSQL ODBC driver is not installed";
    using Clock = std::chrono::steady_clock;
    const auto msSince = [](Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); };
    test::useTestOdbcEnvironment();
    test::SilentServer server;
    ASSERT_NE(server.port(), 0);
    test::MeterSimulator sim({"--meter", "1:230"});
    sim.useAsComPort(2);
    const std::string dir = sim.tempDir() + "/";
    std::ofstream(dir + "odbc.ini") << "[QuornaSilent]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort="
                                    << server.port() << "\nDatabase=quorna\n";
    const std::string oldIni = std::getenv("ODBCINI") != nullptr ? std::getenv("ODBCINI") : "";
    setenv("ODBCINI", (dir + "odbc.ini").c_str(), 1);
    std::ofstream(dir + "Quorna.cfg") << "interval 1\nport COM2:\nspeed 2048\nparity 0\nscan 1\ndsn QuornaSilent\n"
                                         "table readings\nuser quorna\npasswd quorna\nlink 0 4 Meter\nlink 2 11 Date_Time\n";
    RecordingOperator op;
    auto station = std::make_unique<test::SpooledStation>(op);
    station->useConfigFile(dir + "Quorna.cfg");
    ASSERT_TRUE(station->readSettings());
    std::time_t now = march7(14, 15);
    station->logging().useClock([&now] { return now; });
    station->tick();  // opens the port and begins the scan
    while (station->scanStep()) {
    }
    const auto moment = Clock::now();
    station->tick();  // the moment: the meter is read in its steps, the connect begins
    while (station->step()) {
    }
    const double tickMs = msSince(moment);
    EXPECT_LT(tickMs, 1000.0) << "the tick does not wait for the server";
    EXPECT_EQ(recordsWaiting(station->logging()), 1U);
    EXPECT_TRUE(op.messages.empty());

    double longestSlice = 0;
    int slices = 0;
    for (bool more = true; more && msSince(moment) < (kOdbcLoginTimeoutSeconds + 10) * 1000.0; ++slices) {
        const auto slice = Clock::now();
        more = station->catchUp();
        longestSlice = std::max(longestSlice, msSince(slice));
    }
    const double failedAfter = msSince(moment);
    std::cout << "[ figures  ] tick " << tickMs << " ms, longest of " << slices << " slices " << longestSlice
              << " ms, failure told after " << failedAfter << " ms\n";
    EXPECT_LT(longestSlice, 1000.0);
    EXPECT_GE(failedAfter, kOdbcLoginTimeoutSeconds * 1000.0 - 500.0) << "the connect ended by the time-out";
    ASSERT_EQ(op.texts(), std::vector<std::string>{"Error connecting"});
    EXPECT_EQ(op.messages[0].severity, Severity::Error);
    EXPECT_EQ(recordsWaiting(station->logging()), 1U) << "the row waits in the spool for a later moment";
    EXPECT_FALSE(loggingBehind(station->logging()));
    EXPECT_EQ(station->settings().databaseLogging, DatabaseLoggingState::Active);

    // The next moment connects again; the station ends while that connect waits.
    now += 60;
    station->tick();
    while (station->step()) {
    }
    EXPECT_EQ(recordsWaiting(station->logging()), 2U);
    const auto ending = Clock::now();
    station.reset();
    EXPECT_LT(msSince(ending), (kOdbcLoginTimeoutSeconds + 2) * 1000.0);
    EXPECT_EQ(op.texts(), std::vector<std::string>{"Error connecting"}) << "nothing is told after the end";
    if (oldIni.empty()) {
        unsetenv("ODBCINI");
    } else {
        setenv("ODBCINI", oldIni.c_str(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(RealDatabases, DatabaseWriter, ::testing::Values("SQLite", "PostgreSQL"), test::DataSourceName());

}  // namespace
}  // namespace quorna
