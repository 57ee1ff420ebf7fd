#include "odbc_test_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>

#include "logging/odbc_library.h"

namespace quorna::test {
namespace {

namespace fs = std::filesystem;

std::string envOr(const char* name, const std::string& fallback = {}) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : fallback;
}

fs::path odbcDirectory() { return fs::path(envOr("QUORNA_TEST_ODBC_DIR")); }

void runScript(const std::string& arguments) {
    const std::string command = std::string("'") + QUORNA_ODBC_TEST_ENV_SCRIPT + "' " + arguments + " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

SQLCHAR* sqlText(std::string& text) { return reinterpret_cast<SQLCHAR*>(text.data()); }

}  // namespace

void useTestOdbcEnvironment() {
    if (envOr("QUORNA_TEST_ODBC_DIR").empty()) {
        const fs::path dir = fs::path(QUORNA_BINARY_DIR) / "odbc-test-env";
        runScript("prepare '" + dir.string() + "'");
        setenv("ODBCSYSINI", dir.c_str(), 1);
        setenv("ODBCINI", (dir / "user-odbc.ini").c_str(), 1);
        setenv("QUORNA_TEST_ODBC_DIR", dir.c_str(), 1);
    }
    if (odbcLibrary().handle == nullptr) {
        ASSERT_EQ(loadOdbcLibrary(), kOdbcLoaded);
    }
    ASSERT_TRUE(ensureOdbcEnvironment());
}

std::optional<TestDataSource> testDataSource(const std::string& name, std::string* why) {
    if (name == "SQLite") {
        if (!fs::exists("/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so")) {
            *why = "the SQLite ODBC driver (libsqliteodbc) is not installed";
            return std::nullopt;
        }
        return TestDataSource{"SQLite", "QuornaSQLite", "", "", false};
    }
    const std::string dsn = envOr("QUORNA_TEST_PG_DSN");
    if (dsn.empty()) {
        *why = "no PostgreSQL data source: run scripts/odbc-test-env.sh start DIR and export what it prints";
        return std::nullopt;
    }
    return TestDataSource{"PostgreSQL", dsn, envOr("QUORNA_TEST_PG_USER"), envOr("QUORNA_TEST_PG_PASSWORD"), true};
}

bool execSql(const TestDataSource& source, const std::string& sql, std::string* error) {
    OdbcSession session;
    if (!session.allocConnect() || !odbcSucceeded(session.connect(source.dsn, source.user, source.password)) ||
        !session.allocStmt()) {
        if (error) *error = "no connection";
        return false;
    }
    std::string text = sql;
    const SQLRETURN rc = odbcLibrary().SQLExecDirect(session.statement(), sqlText(text), SQL_NTS);
    if (!odbcSucceeded(rc) && rc != SQL_NO_DATA) {
        if (error) *error = statementErrorText(rc, session.connection(), session.statement());
        return false;
    }
    return true;
}

std::vector<std::vector<std::string>> querySql(const TestDataSource& source, const std::string& sql, int columns) {
    std::vector<std::vector<std::string>> rows;
    OdbcSession session;
    if (!session.allocConnect() || !odbcSucceeded(session.connect(source.dsn, source.user, source.password)) ||
        !session.allocStmt()) {
        ADD_FAILURE() << "cannot connect to " << source.dsn;
        return rows;
    }
    OdbcLibrary& lib = odbcLibrary();
    std::string text = sql;
    if (!odbcSucceeded(lib.SQLExecDirect(session.statement(), sqlText(text), SQL_NTS))) {
        ADD_FAILURE() << statementErrorText(SQL_ERROR, session.connection(), session.statement());
        return rows;
    }
    std::vector<std::array<char, 256>> buffers(static_cast<std::size_t>(columns));
    std::vector<SQLLEN> indicators(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c)
        EXPECT_TRUE(odbcSucceeded(lib.SQLBindCol(session.statement(), static_cast<SQLUSMALLINT>(c + 1), SQL_C_CHAR,
                                                 buffers[c].data(), 256, &indicators[c])));
    while (odbcSucceeded(lib.SQLFetch(session.statement()))) {
        std::vector<std::string> row;
        for (int c = 0; c < columns; ++c)
            row.push_back(indicators[c] == SQL_NULL_DATA ? std::string("NULL") : std::string(buffers[c].data()));
        rows.push_back(std::move(row));
    }
    return rows;
}

void takeDatabaseAway(const TestDataSource& source) {
    if (source.postgres) {
        runScript("pg-stop '" + odbcDirectory().string() + "'");
    } else {
        fs::rename(odbcDirectory() / "sqlite", odbcDirectory() / "sqlite.away");
    }
}

void bringDatabaseBack(const TestDataSource& source) {
    if (source.postgres) {
        runScript("pg-start '" + odbcDirectory().string() + "'");
    } else {
        fs::rename(odbcDirectory() / "sqlite.away", odbcDirectory() / "sqlite");
    }
}

}  // namespace quorna::test

#include "forms/database_link_dialog.h"
#include "recording_operator.h"

namespace quorna::test {

void RealDatabaseTest::SetUp() {
    std::string why;
    auto found = testDataSource(GetParam(), &why);
    if (!found) GTEST_SKIP() << why;
    source = *found;
    useTestOdbcEnvironment();
}

void RealDatabaseTest::TearDown() { dropStation(); }

void RealDatabaseTest::freshTable(const std::string& table, const std::string& columns) {
    std::string error;
    ASSERT_TRUE(execSql(source, "DROP TABLE IF EXISTS " + table, &error)) << error;
    ASSERT_TRUE(execSql(source, "CREATE TABLE " + table + " (" + columns + ")", &error)) << error;
}

void RealDatabaseTest::linkTable(const std::string& table, int expectedLinks) {
    DatabaseLinkDialog& dialog = station().databaseLink();
    ASSERT_TRUE(dialog.open());
    dialog.setUser(source.user);
    dialog.setPassword(source.password);
    const auto& names = dialog.dataSources();
    dialog.selectDataSource(static_cast<int>(std::find(names.begin(), names.end(), source.dsn) - names.begin()));
    const auto& tables = dialog.tables();
    const auto found = std::find(tables.begin(), tables.end(), table);
    ASSERT_NE(found, tables.end()) << table;
    dialog.selectTable(static_cast<int>(found - tables.begin()));
    ASSERT_EQ(dialog.linkedCount(), expectedLinks);
    ASSERT_TRUE(dialog.accept());
    ASSERT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Active);
}

}  // namespace quorna::test
