#pragma once
// The real databases the database tests run against: a SQLite data source (always, when the
// SQLite ODBC driver is installed) and a PostgreSQL data source (when scripts/odbc-test-env.sh
// started one and exported QUORNA_TEST_PG_DSN). Statements and queries go through the program's
// own ODBC binding.

#include <optional>
#include <string>
#include <vector>

namespace quorna::test {

struct TestDataSource {
    std::string name;      // "SQLite" or "PostgreSQL", for test names
    std::string dsn;
    std::string user;
    std::string password;
    bool postgres = false;
};

// Points unixODBC at the prepared environment: the one the script exported, or else a SQLite-only
// one prepared under the build tree. Loads the driver manager. Call before any other ODBC use.
void useTestOdbcEnvironment();

// The data source by name ("SQLite" or "PostgreSQL"), or nothing with the reason in *why.
std::optional<TestDataSource> testDataSource(const std::string& name, std::string* why);

// Runs one statement; false (and the driver's text in *error) when it fails.
bool execSql(const TestDataSource& source, const std::string& sql, std::string* error = nullptr);
// Runs a query and returns every row with its first `columns` columns as text ("NULL" for null).
std::vector<std::vector<std::string>> querySql(const TestDataSource& source, const std::string& sql, int columns);

// Makes the database unreachable (the SQLite file's folder moved away, the PostgreSQL server
// stopped) and brings it back.
void takeDatabaseAway(const TestDataSource& source);
void bringDatabaseBack(const TestDataSource& source);

}  // namespace quorna::test

#include <gtest/gtest.h>

#include "recording_operator.h"
#include "spooled_station.h"

namespace quorna::test {

// A test that runs once per real data source ("SQLite", "PostgreSQL"); it is skipped, with the
// reason, when that data source is not available.
class RealDatabaseTest : public ::testing::TestWithParam<std::string> {
protected:
    // The test's station exists from construction, so that members may refer to its parts.
    RealDatabaseTest() { m_station.fresh(); }
    void SetUp() override;
    void TearDown() override;

    // The test's station. A test that dropped it and made none since fails here.
    Station& station() { return m_station.get(); }
    // A restart: the station so far is destroyed first (its port closed), then a fresh one is
    // made on op and becomes the test's station.
    Station& freshStation() { return m_station.fresh(); }
    // Destroys the test's station: its port is closed.
    void dropStation() { m_station.drop(); }

    // Drops the table if it exists, then creates it with the given column definitions.
    void freshTable(const std::string& table, const std::string& columns);
    // The operator picks the test's data source and the table in the setup window, finds
    // expectedLinks columns linked, and presses OK: database logging is then Active.
    void linkTable(const std::string& table, int expectedLinks);

    RecordingOperator op;
    TestDataSource source;

private:
    HeldStation m_station{op};
};

// Names the parameterised cases after their data source.
struct DataSourceName {
    std::string operator()(const ::testing::TestParamInfo<std::string>& info) const { return info.param; }
};

}  // namespace quorna::test
