// The run-time ODBC binding against a scripted driver manager: what the operator sees when ODBC is
// missing or incomplete, how a failed connection is explained, the bracketed names a DBMS called
// "...ACCESS..." gets, and the writer giving up silently when ODBC cannot be had.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "forms/database_link_dialog.h"
#include "logging/database_record_writer.h"
#include "logging/odbc_library.h"
#include "recording_operator.h"
#include "settings/configuration.h"
#include "spooled_station.h"
#include "link_row_views.h"

namespace quorna {
namespace {

using test::rowTexts;
using test::rowTypes;

using test::RecordingOperator;

class OdbcBinding : public ::testing::Test {
protected:
    void SetUp() override { startOver(); }
    void TearDown() override { startOver(); }

    // The test's station: a fresh one at the start and again at the end.
    Station& station() { return m_station.get(); }

    void startOver() {
        m_station.fresh();
        resetOdbcLibraryForTests();
        unsetenv("QUORNA_ODBC_LIBRARY");
    }

    // A control function of the scripted driver manager that the program loaded.
    template <typename Function>
    static Function control(const char* name) {
        void* handle = dlopen(QUORNA_FAKE_ODBC_PATH, RTLD_NOW | RTLD_NOLOAD);
        EXPECT_NE(handle, nullptr) << "the scripted driver manager is not loaded";
        auto function = reinterpret_cast<Function>(dlsym(handle, name));
        dlclose(handle);
        return function;
    }

    static void useScriptedDriverManager() {
        setOdbcLibraryNames({QUORNA_FAKE_ODBC_PATH});
        ASSERT_EQ(loadOdbcLibrary(), kOdbcLoaded);
        control<void (*)()>("fakeOdbcReset")();
    }

    static RecordPtr branchRecord(int address, float amps1) {
        auto record = std::make_shared<ReadingsRecord>();
        record->model = 230;
        record->address = address;
        record->time = 1015510500;
        record->current[0] = amps1;
        return record;
    }

    RecordingOperator op;

private:
    test::HeldStation m_station{op};
};

TEST_F(OdbcBinding, CompleteDriverManagerLoadsWithAllSeventeenEntryPoints) {
    setOdbcLibraryNames({QUORNA_FAKE_ODBC_PATH});
    ASSERT_EQ(loadOdbcLibrary(), kOdbcLoaded);
    const OdbcLibrary& lib = odbcLibrary();
    EXPECT_NE(lib.handle, nullptr);
    EXPECT_TRUE(lib.SQLDataSources && lib.SQLAllocEnv && lib.SQLFreeConnect && lib.SQLDisconnect &&
                lib.SQLFreeStmt && lib.SQLFetch && lib.SQLBindCol && lib.SQLTables && lib.SQLAllocStmt &&
                lib.SQLConnect && lib.SQLAllocConnect && lib.SQLColumns && lib.SQLGetInfo && lib.SQLExecDirect &&
                lib.SQLSetStmtOption && lib.SQLError && lib.SQLGetTypeInfo);
    EXPECT_EQ(lib.environment, nullptr) << "the environment is allocated by its first user";
}

TEST_F(OdbcBinding, DriverManagerWithoutSetStmtOptionIsRejectedAndUnloaded) {
    setOdbcLibraryNames({QUORNA_FAKE_ODBC_INCOMPLETE_PATH});
    EXPECT_EQ(loadOdbcLibrary(), kOdbcFunctionsMissing);
    EXPECT_EQ(odbcLibrary().handle, nullptr);
    EXPECT_EQ(dlopen(QUORNA_FAKE_ODBC_INCOMPLETE_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr)
        << "the incomplete library stays loaded";

    // The next attempt starts from scratch and finds a complete library.
    setOdbcLibraryNames({QUORNA_FAKE_ODBC_PATH});
    EXPECT_EQ(loadOdbcLibrary(), kOdbcLoaded);
}

TEST_F(OdbcBinding, MissingLibraryGivesResultOneAndTheLibraryCanBeNamedByEnvironment) {
    setOdbcLibraryNames({"/nonexistent/libodbc.so.2"});
    EXPECT_EQ(loadOdbcLibrary(), kOdbcLibraryMissing);
    EXPECT_EQ(odbcLibrary().handle, nullptr);

    setOdbcLibraryNames({});
    EXPECT_EQ(odbcLibraryNames(), (std::vector<std::string>{"libodbc.so.2", "libodbc.so"}));
    setenv("QUORNA_ODBC_LIBRARY", QUORNA_FAKE_ODBC_PATH, 1);
    EXPECT_EQ(odbcLibraryNames(), std::vector<std::string>{QUORNA_FAKE_ODBC_PATH});
    EXPECT_EQ(loadOdbcLibrary(), kOdbcLoaded);
}

TEST_F(OdbcBinding, LinkWindowReportsMissingOrIncompleteOdbcAndCloses) {
    setOdbcLibraryNames({"/nonexistent/libodbc.so.2"});
    EXPECT_FALSE(station().databaseLink().open());
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Off);

    setOdbcLibraryNames({QUORNA_FAKE_ODBC_INCOMPLETE_PATH});
    EXPECT_FALSE(station().databaseLink().open());
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Off);

    ASSERT_EQ(op.texts(), (std::vector<std::string>{
                              "Couldn't load ODBC32.DLL.  This usually means that ODBC (required to access "
                              "databases) is not installed\nODBC is usually supplied with database software, such "
                              "as MS Access, SQL Server, Oracle, etc.",
                              "Couldn't find all required functions within DLL"}));
    EXPECT_EQ(op.messages[0].caption, "");
}

TEST_F(OdbcBinding, LinkWindowReportsEnvironmentFailureAndCloses) {
    useScriptedDriverManager();
    control<void (*)(int)>("fakeOdbcFailAllocEnv")(1);
    EXPECT_FALSE(station().databaseLink().open());
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Off);
    EXPECT_EQ(op.texts(), std::vector<std::string>{"Couldn't allocate the ODBC environment"});
}

TEST_F(OdbcBinding, FailedConnectionIsExplainedFromItsSqlState) {
    useScriptedDriverManager();
    auto setConnect = control<void (*)(int, const char*)>("fakeOdbcSetConnect");
    DatabaseLinkDialog& dialog = station().databaseLink();
    ASSERT_TRUE(dialog.open());
    dialog.setUser("operator");
    dialog.setPassword("wrong");

    setConnect(SQL_ERROR, "28000");
    dialog.selectDataSource(0);
    setConnect(SQL_ERROR, "HY999");
    dialog.selectDataSource(0);
    setConnect(SQL_INVALID_HANDLE, "28000");
    dialog.selectDataSource(0);
    EXPECT_EQ(op.texts(), (std::vector<std::string>{
                              "Can't connect to this database, Invalid Username and/or Password",
                              "Can't connect to this database, Unknown reason",
                              "Can't connect to this database, ODBC environment handle is invalid... possibly a bug?"}));
    EXPECT_STREQ(control<const char* (*)()>("fakeOdbcLastPassword")(), "wrong");
    EXPECT_TRUE(dialog.tables().empty());
    EXPECT_FALSE(dialog.addTableEnabled());
    EXPECT_EQ(control<int (*)()>("fakeOdbcOpenHandles")(), 0) << "a failed connection leaves a handle behind";
}

TEST_F(OdbcBinding, EverySqlStateOfTheTableHasItsOwnText) {
    useScriptedDriverManager();
    ASSERT_TRUE(ensureOdbcEnvironment());
    auto setConnect = control<void (*)(int, const char*)>("fakeOdbcSetConnect");
    const std::vector<std::pair<const char*, const char*>> expected{
        {"08001", "Unable to make a connection to the data source"},
        {"08002", "Connection is in use"},
        {"08004", "Data source rejected the connection"},
        {"08S01", "Communication link failure"},
        {"28000", "Invalid Username and/or Password"},
        {"IM001", "This driver does not support connections (so what good is that?)"},
        {"IM002", "Data source not found, no default is available"},
        {"IM003", "Could not load the database's ODBC driver"},
        {"IM004", "The Database driver couldn't allocate an environment"},
        {"IM005", "The Database driver couldn't allocate a connection"},
        {"IM009", "Unable to load a translation DLL"},
        {"S1000", "\"General Error\".\nIs this DSN configured correctly for the database it is supposed to "
                  "access?\nDSN's are typically configured for a particular database with the \"32-bit ODBC\" "
                  "Control Panel"},
        {"S1001", "Unable to allocate memory"},
        {"S1090", "Invalid database name, user name and/or password"},
        {"S1T00", "Time-out waiting for connection (no response from database)"},
        {"s1000", "Unknown reason"},
    };
    for (const auto& [state, text] : expected) {
        setConnect(SQL_ERROR, state);
        EXPECT_EQ(describeConnectFailure(odbcLibrary().environment, SQL_ERROR),
                  std::string("Can't connect to this database, ") + text)
            << state;
    }
    setConnect(SQL_ERROR, "28000");
    EXPECT_EQ(describeConnectFailure(odbcLibrary().environment, SQL_NO_DATA),
              "Can't connect to this database, Unknown reason");
}

TEST_F(OdbcBinding, AccessDatabaseGetsBracketedNamesUntilAnotherSourceIsChosen) {
    useScriptedDriverManager();
    control<void (*)(const char*, int)>("fakeOdbcAddColumn")("Meter", SQL_INTEGER);
    control<void (*)(const char*, int)>("fakeOdbcAddColumn")("Amps1", SQL_FLOAT);
    control<void (*)(const char*)>("fakeOdbcSetDbmsName")("MS ACCESS");
    DatabaseLinkDialog& dialog = station().databaseLink();
    ASSERT_TRUE(dialog.open());
    dialog.selectDataSource(0);
    dialog.selectTable(0);
    ASSERT_EQ(rowTexts(dialog), (std::vector<std::string>{"Meter\t->\tMeter", "Amps1\t->\tAmps1"}));
    ASSERT_TRUE(dialog.accept());

    const DatabaseSettings& stored = station().settings().database;
    EXPECT_EQ(stored.table, "[Readings]");
    EXPECT_EQ(stored.kludgeFlags, 5);
    ASSERT_EQ(stored.links.size(), 2U);
    EXPECT_EQ(stored.links[0].columnName, "[Meter]");
    EXPECT_EQ(stored.links[1].columnName, "[Amps1]");

    // The logging moment writes the bracketed form.
    station().logging().queueForDatabase(branchRecord(1, 12.34F));
    DatabaseRecordWriter(station().logging());
    ASSERT_EQ(control<int (*)()>("fakeOdbcStatementCount")(), 1);
    EXPECT_STREQ(control<const char* (*)(int)>("fakeOdbcStatement")(0),
                 "INSERT INTO [Readings] ([Meter], [Amps1])\n  VALUES (1, 12.340);");

    // Another data source in the same window stores the names as they are.
    startNewDatabase(station().logging());
    control<void (*)(const char*)>("fakeOdbcSetDbmsName")("PostgreSQL");
    ASSERT_TRUE(dialog.open());
    dialog.selectDataSource(0);
    dialog.selectTable(0);
    ASSERT_TRUE(dialog.accept());
    EXPECT_EQ(station().settings().database.table, "Readings");
    EXPECT_EQ(station().settings().database.kludgeFlags, 0);
    EXPECT_EQ(station().settings().database.links[0].columnName, "Meter");
    EXPECT_TRUE(op.texts().empty());
}

TEST_F(OdbcBinding, WriterSwitchesDatabaseLoggingOffSilentlyWithoutOdbc) {
    std::size_t waiting = 0;
    for (const char* library : {"/nonexistent/libodbc.so.2", QUORNA_FAKE_ODBC_INCOMPLETE_PATH}) {
        resetOdbcLibraryForTests();
        setOdbcLibraryNames({library});
        station().settings().databaseLogging = DatabaseLoggingState::Active;
        station().settings().database.dsn = "Plant";
        station().settings().database.table = "Readings";
        station().settings().database.links.push_back(ColumnLink{0, SQL_INTEGER, "Meter"});
        station().logging().queueForDatabase(branchRecord(1, 1.0F));
        station().logging().queueForDatabase(branchRecord(2, 2.0F));

        DatabaseRecordWriter(station().logging());
        EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Off) << library;
        EXPECT_TRUE(station().settings().database.dsn.empty());
        EXPECT_TRUE(station().settings().database.links.empty());
        // What waits for the database is kept for a run that has the library.
        waiting += 2;
        EXPECT_EQ(station().logging().databaseQueue().size(), waiting);
    }
    EXPECT_TRUE(op.messages.empty());
}

TEST_F(OdbcBinding, WriterSwitchesOffSilentlyWhenTheEnvironmentCannotBeHad) {
    useScriptedDriverManager();
    control<void (*)(int)>("fakeOdbcFailAllocEnv")(1);
    station().settings().databaseLogging = DatabaseLoggingState::Active;
    station().settings().database.dsn = "Plant";
    station().settings().database.links.push_back(ColumnLink{0, SQL_INTEGER, "Meter"});
    station().logging().queueForDatabase(branchRecord(1, 1.0F));
    DatabaseRecordWriter(station().logging());
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Off);
    EXPECT_EQ(station().logging().databaseQueue().size(), 1U) << "kept for a run that can write it";
    EXPECT_TRUE(op.messages.empty());
}

TEST_F(OdbcBinding, FailedInsertShowsTheDriverTextAndReleasesEveryHandle) {
    useScriptedDriverManager();
    control<void (*)(int)>("fakeOdbcSetExecResult")(SQL_ERROR);
    station().settings().databaseLogging = DatabaseLoggingState::Active;
    station().settings().database.dsn = "FakeSource";
    station().settings().database.table = "Readings";
    station().settings().database.links.push_back(ColumnLink{0, SQL_INTEGER, "Meter"});
    station().logging().queueForDatabase(branchRecord(1, 1.0F));
    station().logging().queueForDatabase(branchRecord(2, 2.0F));
    DatabaseRecordWriter(station().logging());
    EXPECT_EQ(op.texts(), std::vector<std::string>{"Error # -1  [Fake] scripted failure"});
    EXPECT_EQ(station().logging().databaseQueue().size(), 2U) << "the failing record and the one behind it stay queued";
    EXPECT_EQ(control<int (*)()>("fakeOdbcStatementCount")(), 1);
    EXPECT_EQ(control<int (*)()>("fakeOdbcOpenHandles")(), 0);
}

TEST_F(OdbcBinding, AddTableSendsTheStatementBuiltFromTheDriversTypeNames) {
    useScriptedDriverManager();
    DatabaseLinkDialog& dialog = station().databaseLink();
    ASSERT_TRUE(dialog.open());
    dialog.addTable("Readings", TableColumns::MinimalSet);
    EXPECT_EQ(control<int (*)()>("fakeOdbcStatementCount")(), 0) << "no data source selected: nothing happens";

    dialog.selectDataSource(0);
    dialog.addTable("Readings", TableColumns::MinimalSet);
    ASSERT_EQ(control<int (*)()>("fakeOdbcStatementCount")(), 1);
    // The scripted driver offers INTEGER, FLOAT, VARCHAR and DATETIME.
    EXPECT_STREQ(control<const char* (*)(int)>("fakeOdbcStatement")(0),
                 "CREATE TABLE Readings (\nMeter INTEGER,\nLocation VARCHAR(32),\nDate_Time DATETIME,\nAmps1 FLOAT,\n"
                 "Amps2 FLOAT,\nAmps3 FLOAT,\nAmps5 FLOAT,\nAmps6 FLOAT,\nAmps8 FLOAT);");
    EXPECT_TRUE(op.messages.empty());
    EXPECT_EQ(control<int (*)()>("fakeOdbcOpenHandles")(), 0);
}

}  // namespace
}  // namespace quorna
