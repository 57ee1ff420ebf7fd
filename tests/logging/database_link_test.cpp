// Linking the program's variables to a table's columns, against real SQLite and PostgreSQL data
// sources: what the lists show, which columns link themselves, the buttons, and what "OK" stores.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "forms/database_link_dialog.h"
#include "logging/database_record_writer.h"
#include "logging/odbc_library.h"
#include "logging/readings_record.h"
#include "logging/variable_table.h"
#include "odbc_test_env.h"
#include "recording_operator.h"
#include "spooled_station.h"
#include "settings/configuration.h"
#include "link_row_views.h"

namespace quorna {
namespace {

using test::rowTexts;
using test::rowTypes;

using test::RecordingOperator;

TEST(VariableLinking, ColumnTypesDecideWhichVariablesMayBeLinked) {
    EXPECT_EQ(VariableTable.size(), 45U);
    EXPECT_EQ(VariableTable[2], "Date_Time");
    EXPECT_EQ(VariableTable[44], "Amps42");
    for (std::int16_t text : {SQL_CHAR, SQL_VARCHAR, SQL_LONGVARCHAR})
        for (int v = 0; v < kVariableCount; ++v) EXPECT_TRUE(isLinkable(v, text));
    for (std::int16_t number : {SQL_NUMERIC, SQL_DECIMAL, SQL_INTEGER, SQL_SMALLINT, SQL_FLOAT, SQL_REAL, SQL_DOUBLE}) {
        EXPECT_TRUE(isLinkable(kMeterVariable, number));
        EXPECT_FALSE(isLinkable(kLocationVariable, number));
        EXPECT_FALSE(isLinkable(kDateTimeVariable, number));
        EXPECT_TRUE(isLinkable(3, number));
        EXPECT_TRUE(isLinkable(44, number));
    }
    for (std::int16_t when : {SQL_DATE, SQL_TIME, SQL_TIMESTAMP}) {
        EXPECT_TRUE(isLinkable(kDateTimeVariable, when));
        EXPECT_FALSE(isLinkable(kMeterVariable, when));
        EXPECT_FALSE(isLinkable(3, when));
    }
    EXPECT_FALSE(isLinkable(kMeterVariable, SQL_BIGINT));
    EXPECT_FALSE(isLinkable(kMeterVariable, SQL_BINARY));
    EXPECT_FALSE(isLinkable(45, SQL_VARCHAR));
}

TEST(VariableLinking, NamesMatchIgnoringCaseWithSpaceForUnderscore) {
    EXPECT_TRUE(namesMatch("Date_Time", "date time"));
    EXPECT_TRUE(namesMatch("Date_Time", "DATE_TIME"));
    EXPECT_TRUE(namesMatch("Amps1", "AMPS1"));
    EXPECT_FALSE(namesMatch("Amps1", "Amps 1"));
    EXPECT_FALSE(namesMatch("Amps1", "Amps12"));
    EXPECT_FALSE(namesMatch("Amps12", "Amps1"));
    EXPECT_FALSE(namesMatch("Meter", "Meter "));
}

TEST(DatabaseSetup, NewDatabaseStopsLoggingAndDropsWaitingRecords) {
    RecordingOperator op;
    test::SpooledStation station(op);
    station.settings().databaseLogging = DatabaseLoggingState::Active;
    station.settings().database = DatabaseSettings{"Plant", "[Readings]", "op", "pw", 5, {ColumnLink{0, 4, "[Meter]"}}};
    station.logging().queueForDatabase(std::make_shared<ReadingsRecord>());
    startNewDatabase(station.logging());
    EXPECT_EQ(station.settings().databaseLogging, DatabaseLoggingState::Off);
    EXPECT_TRUE(station.settings().database.dsn.empty());
    EXPECT_TRUE(station.settings().database.table.empty());
    EXPECT_TRUE(station.settings().database.user.empty());
    EXPECT_TRUE(station.settings().database.password.empty());
    EXPECT_EQ(station.settings().database.kludgeFlags, 0);
    EXPECT_TRUE(station.settings().database.links.empty());
    EXPECT_TRUE(station.logging().databaseQueue().empty());
}

// The order the lists promise: by name, letter case not counted.
bool caseless(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

class DatabaseLink : public test::RealDatabaseTest {
protected:
    void SetUp() override {
        RealDatabaseTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        freshTable("linkage", "\"date time\" TIMESTAMP, \"AMPS1\" INTEGER, \"Meter\" VARCHAR(10), \"Amps 1\" INTEGER");
        freshTable("dated_meters", "\"Meter\" DATE");
    }

    // Opens the window and selects the test's data source with its user name and password.
    void openOnSource() {
        ASSERT_TRUE(dialog.open());
        dialog.setUser(source.user);
        dialog.setPassword(source.password);
        const auto& names = dialog.dataSources();
        const auto at = std::find(names.begin(), names.end(), source.dsn);
        ASSERT_NE(at, names.end()) << source.dsn << " is not listed";
        dialog.selectDataSource(static_cast<int>(at - names.begin()));
    }

    void selectTable(const std::string& name) {
        const auto& tables = dialog.tables();
        const auto at = std::find(tables.begin(), tables.end(), name);
        ASSERT_NE(at, tables.end()) << name << " is not listed";
        dialog.selectTable(static_cast<int>(at - tables.begin()));
    }

    DatabaseLinkDialog& dialog = station().databaseLink();
};

TEST_P(DatabaseLink, OpeningListsSortedDataSourcesAndTheVariables) {
    ASSERT_TRUE(dialog.open());
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::SettingUp);
    const auto& names = dialog.dataSources();
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), caseless));
    EXPECT_NE(std::find(names.begin(), names.end(), source.dsn), names.end());
    EXPECT_EQ(dialog.variables().size(), 45U);
    EXPECT_EQ(dialog.variables()[0], "Meter");
    EXPECT_EQ(dialog.selectedVariable(), 0);
    EXPECT_EQ(dialog.selectedDataSource(), -1);
    EXPECT_FALSE(dialog.okEnabled() || dialog.addTableEnabled() || dialog.addColumnEnabled() ||
                 dialog.linkEnabled() || dialog.unlinkEnabled());
    EXPECT_TRUE(op.messages.empty());
}

TEST_P(DatabaseLink, ChoosingADataSourceListsItsTablesSorted) {
    // Names that a sort by character code would put the other way round.
    freshTable("\"Zeta_case\"", "x INTEGER");
    freshTable("\"alpha_case\"", "x INTEGER");
    openOnSource();
    const auto& tables = dialog.tables();
    EXPECT_TRUE(std::is_sorted(tables.begin(), tables.end(), caseless));
    const auto at = [&tables](const std::string& name) { return std::find(tables.begin(), tables.end(), name); };
    ASSERT_NE(at("Zeta_case"), tables.end());
    ASSERT_NE(at("alpha_case"), tables.end());
    EXPECT_LT(at("alpha_case"), at("Zeta_case")) << "the lists sort without regard to letter case";
    EXPECT_NE(std::find(tables.begin(), tables.end(), "linkage"), tables.end());
    EXPECT_NE(std::find(tables.begin(), tables.end(), "dated_meters"), tables.end());
    EXPECT_TRUE(dialog.addTableEnabled());
    EXPECT_FALSE(dialog.okEnabled() || dialog.addColumnEnabled());
    EXPECT_TRUE(op.messages.empty());
}

TEST_P(DatabaseLink, MatchingColumnsLinkThemselves) {
    openOnSource();
    selectTable("linkage");
    EXPECT_EQ(rowTexts(dialog), (std::vector<std::string>{"Date_Time\t->\tdate time", "Amps1\t->\tAMPS1",
                                                       "Meter\t->\tMeter", "\t\tAmps 1"}));
    EXPECT_EQ(rowTypes(dialog), (std::vector<std::int16_t>{SQL_TIMESTAMP, SQL_INTEGER, SQL_VARCHAR, SQL_INTEGER}));
    EXPECT_EQ(dialog.linkedCount(), 3);
    EXPECT_TRUE(dialog.okEnabled());
    EXPECT_TRUE(dialog.addColumnEnabled());

    selectTable("dated_meters");
    EXPECT_EQ(rowTexts(dialog), std::vector<std::string>{"\t\tMeter"});
    EXPECT_EQ(rowTypes(dialog), std::vector<std::int16_t>{SQL_DATE});
    EXPECT_EQ(dialog.linkedCount(), 0);
    EXPECT_FALSE(dialog.okEnabled());
    EXPECT_TRUE(op.messages.empty());
}

TEST_P(DatabaseLink, LinkAndUnlinkFollowTheColumnTypes) {
    openOnSource();
    selectTable("linkage");

    dialog.selectRow(3);  // "Amps 1", INTEGER, not linked
    EXPECT_TRUE(dialog.linkEnabled()) << "Meter may go to a number column";
    EXPECT_FALSE(dialog.unlinkEnabled());
    dialog.selectVariable(kLocationVariable);
    EXPECT_FALSE(dialog.linkEnabled());
    dialog.link();
    EXPECT_EQ(linkRowText(dialog.rows()[3]), "\t\tAmps 1") << "a refused link changes nothing";

    dialog.selectVariable(kFirstAmpsVariable + 4);  // Amps5
    dialog.link();
    EXPECT_EQ(linkRowText(dialog.rows()[3]), "Amps5\t->\tAmps 1");
    EXPECT_EQ(dialog.linkedCount(), 4);
    EXPECT_EQ(dialog.selectedRow(), 3);
    EXPECT_TRUE(dialog.unlinkEnabled());

    dialog.selectRow(1);  // relinking a linked row keeps the count
    dialog.selectVariable(kFirstAmpsVariable + 1);
    dialog.link();
    EXPECT_EQ(linkRowText(dialog.rows()[1]), "Amps2\t->\tAMPS1");
    EXPECT_EQ(dialog.linkedCount(), 4);

    for (int row : {0, 1, 2, 3}) {
        dialog.selectRow(row);
        dialog.unlink();
    }
    dialog.unlink();  // the row is no longer linked: nothing changes
    EXPECT_EQ(rowTexts(dialog), (std::vector<std::string>{"\t\tdate time", "\t\tAMPS1", "\t\tMeter", "\t\tAmps 1"}));
    EXPECT_EQ(dialog.linkedCount(), 0);
    EXPECT_FALSE(dialog.okEnabled());
    EXPECT_FALSE(dialog.unlinkEnabled());

    dialog.selectRow(-1);
    dialog.selectVariable(0);
    EXPECT_FALSE(dialog.linkEnabled()) << "no row selected";
}

TEST_P(DatabaseLink, OkStoresTheLinksInColumnOrderAndStartsLogging) {
    openOnSource();
    selectTable("linkage");
    dialog.selectRow(3);
    dialog.selectVariable(kFirstAmpsVariable + 4);
    dialog.link();
    dialog.addColumn();
    EXPECT_EQ(op.texts(), std::vector<std::string>{"The feature to add another column to a database\nisn't "
                                                   "written yet.  Please use your database software"});
    ASSERT_TRUE(dialog.accept());

    const DatabaseSettings& stored = station().settings().database;
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Active);
    EXPECT_EQ(stored.dsn, source.dsn);
    EXPECT_EQ(stored.table, "linkage");
    EXPECT_EQ(stored.user, source.user);
    EXPECT_EQ(stored.password, source.password);
    EXPECT_EQ(stored.kludgeFlags, 0);
    ASSERT_EQ(stored.links.size(), 4U);
    EXPECT_EQ(stored.links[0].variable, kDateTimeVariable);
    EXPECT_EQ(stored.links[0].sqlType, SQL_TIMESTAMP);
    EXPECT_EQ(stored.links[0].columnName, "\"date time\"") << "a name with a blank is quoted";
    EXPECT_EQ(stored.links[1].variable, kFirstAmpsVariable);
    EXPECT_EQ(stored.links[2].variable, kMeterVariable);
    EXPECT_EQ(stored.links[2].sqlType, SQL_VARCHAR);
    EXPECT_EQ(stored.links[3].variable, kFirstAmpsVariable + 4);
    EXPECT_EQ(stored.links[3].columnName, "\"Amps 1\"");
    // A plain name stays as it is where the database keeps its case (SQLite); PostgreSQL would
    // fold it to amps1, another column, so there it is quoted.
    EXPECT_EQ(stored.links[1].columnName, source.postgres ? "\"AMPS1\"" : "AMPS1");
    EXPECT_EQ(stored.links[2].columnName, source.postgres ? "\"Meter\"" : "Meter");

}

TEST_P(DatabaseLink, ARecordReachesColumnsWhoseNamesHoldABlank) {
    freshTable("spaced", "\"date time\" TIMESTAMP, meter INTEGER, \"Amps 1\" FLOAT");
    openOnSource();
    selectTable("spaced");
    ASSERT_EQ(dialog.rows().size(), 3U);
    dialog.selectRow(2);
    dialog.selectVariable(kFirstAmpsVariable);
    dialog.link();
    ASSERT_EQ(dialog.linkedCount(), 3);
    ASSERT_TRUE(dialog.accept());

    auto record = std::make_shared<ReadingsRecord>();
    record->model = kBranchMeter;
    record->address = 4;
    record->time = 1015510500;
    record->current[0] = 9.5F;
    station().logging().queueForDatabase(record);
    DatabaseRecordWriter(station().logging());
    EXPECT_TRUE(op.messages.empty()) << op.messages.front().text;
    EXPECT_TRUE(station().logging().databaseQueue().empty());
    const auto rows = test::querySql(source, "SELECT meter, \"Amps 1\", \"date time\" FROM spaced", 3);
    ASSERT_EQ(rows.size(), 1U);
    EXPECT_EQ(rows[0][0], "4");
    EXPECT_DOUBLE_EQ(std::stod(rows[0][1]), 9.5);
    EXPECT_FALSE(rows[0][2].empty());
}

TEST_P(DatabaseLink, OkWithoutATableSaysSoAndStaysOpen) {
    openOnSource();
    EXPECT_FALSE(dialog.accept());
    EXPECT_EQ(op.texts(), std::vector<std::string>{"Error storing table name"});
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::SettingUp);
    dialog.cancel();
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Off);
}

TEST_P(DatabaseLink, TypedUserNameAndPasswordAreKeptForTheNextOpening) {
    openOnSource();
    dialog.cancel();
    ASSERT_TRUE(dialog.open());
    EXPECT_EQ(dialog.user(), source.user);
    EXPECT_EQ(dialog.password(), source.password);
}

TEST_P(DatabaseLink, WrongPasswordIsExplained) {
    if (!source.postgres) GTEST_SKIP() << "SQLite data sources take no password";
    ASSERT_TRUE(dialog.open());
    dialog.setUser(source.user);
    dialog.setPassword("not-the-password");
    const auto& names = dialog.dataSources();
    dialog.selectDataSource(static_cast<int>(std::find(names.begin(), names.end(), source.dsn) - names.begin()));
    ASSERT_EQ(op.messages.size(), 1U);
    EXPECT_EQ(op.messages[0].text.rfind("Can't connect to this database, ", 0), 0U) << op.messages[0].text;
    EXPECT_TRUE(dialog.tables().empty());
    EXPECT_FALSE(dialog.addTableEnabled());
}

INSTANTIATE_TEST_SUITE_P(RealDatabases, DatabaseLink, ::testing::Values("SQLite", "PostgreSQL"), test::DataSourceName());

}  // namespace
}  // namespace quorna
