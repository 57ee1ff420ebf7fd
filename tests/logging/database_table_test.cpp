// Creating a logging table: the name rules of the "Add Database Table" window, the choice of the
// driver's type names, the statement, and real tables made in SQLite and PostgreSQL.

#include <gtest/gtest.h>

#include <algorithm>

#include "forms/add_table.h"
#include "forms/database_link_dialog.h"
#include "logging/database_record_writer.h"
#include "logging/odbc_library.h"
#include "logging/variable_table.h"
#include "odbc_test_env.h"
#include "recording_operator.h"
#include "link_row_views.h"

namespace quorna {
namespace {

using test::rowTexts;
using test::rowTypes;

using test::RecordingOperator;

TEST(NewTableName, OnlyLettersDigitsAndUnderscoreAreAccepted) {
    RecordingOperator op;
    EXPECT_FALSE(acceptNewTableName("", op));
    EXPECT_FALSE(acceptNewTableName("new table", op));
    EXPECT_FALSE(acceptNewTableName("Tab-1", op));
    EXPECT_FALSE(acceptNewTableName("Zähler", op));
    EXPECT_TRUE(acceptNewTableName("Panel_01", op));
    EXPECT_EQ(op.texts(), (std::vector<std::string>{
                              "You must give the new table a name",
                              "The table name may only contain A-Z, a-z, 0-9 and underscore '_'",
                              "The table name may only contain A-Z, a-z, 0-9 and underscore '_'",
                              "The table name may only contain A-Z, a-z, 0-9 and underscore '_'"}));
}

TEST(TypeNameChoice, LastPreferredNameElseFirstFallback) {
    const TableTypeNames types = chooseTypeNames({{"DOUBLE", SQL_DOUBLE},
                                                  {"DOUBLE2", SQL_DOUBLE},
                                                  {"FLOAT", SQL_FLOAT},
                                                  {"NUMERIC", SQL_NUMERIC},
                                                  {"INTEGER", SQL_INTEGER},
                                                  {"INT4", SQL_INTEGER},
                                                  {"CHAR", SQL_CHAR},
                                                  {"VARCHAR", SQL_VARCHAR},
                                                  {"TEXTVAR", SQL_VARCHAR},
                                                  {"DATE", SQL_DATE},
                                                  {"TIMESTAMP", SQL_TIMESTAMP},
                                                  {"BLOB", SQL_LONGVARBINARY}});
    EXPECT_EQ(types.number.name, "FLOAT");
    EXPECT_EQ(types.wholeNumber.name, "INT4");
    EXPECT_EQ(types.text.name, "TEXTVAR(32)");
    EXPECT_EQ(types.dateTime.name, "TIMESTAMP");

    const TableTypeNames fallbacks = chooseTypeNames(
        {{"DOUBLE", SQL_DOUBLE}, {"DOUBLE2", SQL_DOUBLE}, {"NUMBER", SQL_NUMERIC}, {"NUM2", SQL_NUMERIC},
         {"CHAR", SQL_CHAR}, {"CHAR2", SQL_CHAR}, {"DATE", SQL_DATE}, {"DATE2", SQL_DATE}});
    EXPECT_EQ(fallbacks.number.name, "DOUBLE");
    EXPECT_EQ(fallbacks.wholeNumber.name, "NUMBER");
    EXPECT_EQ(fallbacks.text.name, "CHAR(32)");
    EXPECT_EQ(fallbacks.dateTime.name, "DATE");
}

TEST(TypeNameChoice, MissingKindsAreStoodInFor) {
    const TableTypeNames noWhole = chooseTypeNames({{"FLOAT", SQL_FLOAT}, {"VARCHAR", SQL_VARCHAR}});
    EXPECT_EQ(noWhole.wholeNumber.name, "FLOAT");
    EXPECT_EQ(noWhole.wholeNumber.sqlType, SQL_FLOAT);
    EXPECT_EQ(noWhole.dateTime.name, "VARCHAR(32)");
    EXPECT_EQ(createTableStatement("T", TableColumns::MinimalSet, noWhole),
              "CREATE TABLE T (\nMeter FLOAT,\nLocation VARCHAR(32),\nDate_Time VARCHAR(32),\nAmps1 FLOAT,\n"
              "Amps2 FLOAT,\nAmps3 FLOAT,\nAmps5 FLOAT,\nAmps6 FLOAT,\nAmps8 FLOAT);");

    const TableTypeNames noText = chooseTypeNames({{"FLOAT", SQL_FLOAT}});
    EXPECT_EQ(noText.text.name, "(32)");

    EXPECT_EQ(chooseTypeNames({{"INTEGER", SQL_INTEGER}, {"VARCHAR", SQL_VARCHAR}}).number.sqlType, 0)
        << "no number type: the table cannot be made";
}

TEST(CreateTableStatement, MinimalSetReadsAsTheDriverNamesIt) {
    const TableTypeNames types =
        chooseTypeNames({{"FLOAT", SQL_FLOAT}, {"INTEGER", SQL_INTEGER}, {"VARCHAR", SQL_VARCHAR}, {"TIMESTAMP", SQL_TIMESTAMP}});
    EXPECT_EQ(createTableStatement("Readings", TableColumns::MinimalSet, types),
              "CREATE TABLE Readings (\nMeter INTEGER,\nLocation VARCHAR(32),\nDate_Time TIMESTAMP,\nAmps1 FLOAT,\n"
              "Amps2 FLOAT,\nAmps3 FLOAT,\nAmps5 FLOAT,\nAmps6 FLOAT,\nAmps8 FLOAT);");
    std::string all = "CREATE TABLE Readings (\nMeter INTEGER,\nLocation VARCHAR(32),\nDate_Time TIMESTAMP";
    for (int n = 1; n <= 42; ++n) all += ",\nAmps" + std::to_string(n) + " FLOAT";
    all += ");";
    EXPECT_EQ(createTableStatement("Readings", TableColumns::AllVariables, types), all);
}

class AddTable : public test::RealDatabaseTest {
protected:
    void SetUp() override {
        RealDatabaseTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        for (const char* t : {"panel_all", "panel_min"}) ASSERT_TRUE(test::execSql(source, std::string("DROP TABLE IF EXISTS ") + t));
        ASSERT_TRUE(dialog.open());
        dialog.setUser(source.user);
        dialog.setPassword(source.password);
        const auto& names = dialog.dataSources();
        dialog.selectDataSource(static_cast<int>(std::find(names.begin(), names.end(), source.dsn) - names.begin()));
        ASSERT_TRUE(dialog.addTableEnabled());
    }

    int tableIndex(const std::string& name) {
        const auto& tables = dialog.tables();
        const auto at = std::find(tables.begin(), tables.end(), name);
        return at == tables.end() ? -1 : static_cast<int>(at - tables.begin());
    }

    DatabaseLinkDialog& dialog = station().databaseLink();
};

TEST_P(AddTable, AllVariablesTableIsListedAndLinksItselfCompletely) {
    dialog.addTable("panel_all", TableColumns::AllVariables);
    EXPECT_TRUE(op.messages.empty()) << op.messages[0].text;
    const int at = tableIndex("panel_all");
    ASSERT_GE(at, 0) << "the table list was not refreshed";
    EXPECT_EQ(dialog.selectedTable(), -1);
    EXPECT_TRUE(dialog.rows().empty());

    dialog.selectTable(at);
    ASSERT_EQ(dialog.rows().size(), 45U);
    for (int v = 0; v < kVariableCount; ++v) {
        const std::string row = linkRowText(dialog.rows()[v]);
        const std::string linked = std::string(VariableTable[v]) + "\t->\t";
        EXPECT_EQ(row.substr(0, linked.size()), linked) << row;
    }
    EXPECT_EQ(rowTypes(dialog)[kLocationVariable], SQL_VARCHAR);
    EXPECT_EQ(rowTypes(dialog)[kDateTimeVariable], SQL_TIMESTAMP);
    EXPECT_EQ(rowTypes(dialog)[kMeterVariable], SQL_INTEGER);
    EXPECT_EQ(dialog.linkedCount(), 45);
}

TEST_P(AddTable, MinimalTableHasNineColumnsInOrder) {
    dialog.addTable("panel_min", TableColumns::MinimalSet);
    ASSERT_TRUE(op.messages.empty()) << op.messages[0].text;
    dialog.selectTable(tableIndex("panel_min"));
    std::vector<std::string> columns;
    for (const LinkRow& row : dialog.rows()) columns.push_back(row.column);
    std::vector<std::string> expected{"Meter", "Location", "Date_Time", "Amps1", "Amps2", "Amps3", "Amps5", "Amps6", "Amps8"};
    if (source.postgres)  // unquoted names are folded to lower case
        for (std::string& c : expected) std::transform(c.begin(), c.end(), c.begin(), ::tolower);
    EXPECT_EQ(columns, expected);
    EXPECT_EQ(dialog.linkedCount(), 9);
}

TEST_P(AddTable, CurrentsKeepTheirDecimalsInATableItMade) {
    dialog.addTable("panel_min", TableColumns::MinimalSet);
    ASSERT_TRUE(op.messages.empty()) << op.messages[0].text;
    dialog.selectTable(tableIndex("panel_min"));
    ASSERT_TRUE(dialog.accept());

    auto record = std::make_shared<ReadingsRecord>();
    record->model = kBranchMeter;
    record->address = 12;
    record->time = 1015510500;
    record->current[0] = 12.345F;
    station().logging().queueForDatabase(record);
    DatabaseRecordWriter(station().logging());
    ASSERT_TRUE(op.messages.empty()) << op.messages[0].text;

    const auto rows = test::querySql(source, "SELECT Meter, Amps1 FROM panel_min", 2);
    ASSERT_EQ(rows.size(), 1U);
    EXPECT_EQ(rows[0][0], "12");
    EXPECT_NEAR(std::stod(rows[0][1]), 12.345, 1e-4) << "a whole-number column would hold 12";
}

TEST_P(AddTable, ExistingTableNameShowsTheDriversText) {
    dialog.addTable("panel_min", TableColumns::MinimalSet);
    ASSERT_TRUE(op.messages.empty());
    dialog.addTable("panel_min", TableColumns::MinimalSet);
    ASSERT_EQ(op.messages.size(), 1U);
    EXPECT_EQ(op.messages[0].text.rfind("Error # -1  ", 0), 0U) << op.messages[0].text;
    EXPECT_NE(op.messages[0].text.find("panel_min"), std::string::npos) << op.messages[0].text;
}

INSTANTIATE_TEST_SUITE_P(RealDatabases, AddTable, ::testing::Values("SQLite", "PostgreSQL"), test::DataSourceName());

}  // namespace
}  // namespace quorna
