// The database windows on the offscreen platform, driven through their controls: the Database
// command, "Save-to-Database Setup" against the SQLite data source, "Add Database Table" and
// "Database Setup", and the link window against a database server that never answers.
// Screenshots go to the build tree's screenshots folder.

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <string>

#include "gui/main/app_shell.h"
#include "gui/logging/add_table_window.h"
#include "forms/database_link_dialog.h"
#include "gui/logging/database_link_window.h"
#include "gui/logging/database_setup_window.h"
#include "logging/odbc_library.h"
#include "logging/readings_record.h"
#include "odbc_test_env.h"
#include "recording_operator.h"
#include "settings/configuration.h"
#include "silent_server.h"
#include "spooled_station.h"
#include "stub_app_shell.h"

namespace quorna {

void installDatabaseCommands(AppShell& shell);

namespace {

using test::RecordingOperator;

// Saves the window's picture and checks that it shows something.
void screenshot(QWidget& widget, const QString& name) {
    widget.adjustSize();
    QApplication::processEvents();
    const QImage image = widget.grab().toImage();
    ASSERT_GT(image.width(), 200);
    ASSERT_GT(image.height(), 100);
    bool varied = false;
    for (int y = 0; y < image.height() && !varied; y += 3)
        for (int x = 0; x < image.width() && !varied; x += 3) varied = image.pixel(x, y) != image.pixel(0, 0);
    EXPECT_TRUE(varied) << "the picture is a single colour";
    const QString dir = QStringLiteral(QUORNA_BINARY_DIR "/screenshots");
    QDir().mkpath(dir);
    EXPECT_TRUE(image.save(dir + "/" + name + ".png"));
}

int rowOf(QListWidget* list, const QString& text) {
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->text() == text) return i;
    return -1;
}

std::vector<std::string> texts(QListWidget* list) {
    std::vector<std::string> result;
    for (int i = 0; i < list->count(); ++i) result.push_back(list->item(i)->text().toStdString());
    return result;
}

TEST(DatabaseCommand, IsOfferedUnderConfigurationWithCtrlD) {
    test::StubAppShell shell;
    installDatabaseCommands(shell);
    ASSERT_EQ(shell.commands.count(32778), 1U);
    EXPECT_EQ(shell.commands[32778].menu, "Configuration");
    EXPECT_EQ(shell.commands[32778].entry, "Database");
    EXPECT_EQ(shell.commands[32778].shortcut, QKeySequence(QStringLiteral("Ctrl+D")));
}

TEST(AddTableWindow, RefusesBadNamesAndLimitsTheLength) {
    RecordingOperator op;
    AddTableWindow dialog(op);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Add Database Table");
    EXPECT_TRUE(dialog.allColumnsButton()->isChecked());
    EXPECT_EQ(dialog.nameEdit()->maxLength(), 20);
    QTest::keyClicks(dialog.nameEdit(), "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(dialog.nameEdit()->text(), "ABCDEFGHIJKLMNOPQRST") << "a 21st character cannot be typed";

    dialog.nameEdit()->setText("new table");
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    dialog.nameEdit()->clear();
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"The table name may only contain A-Z, a-z, 0-9 and underscore '_'",
                                                    "You must give the new table a name"}));

    dialog.nameEdit()->setText("Panel_01");
    dialog.minimalColumnsButton()->click();
    screenshot(dialog, "add_table_dialog");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.tableName(), "Panel_01");
    EXPECT_EQ(dialog.columns(), TableColumns::MinimalSet);
}

TEST(DatabaseLinkWindow, HelpOpensTheHelpAtTheWindowsSection) {
    RecordingOperator op;
    test::SpooledStation station(op);
    test::StubAppShell shell(station);
    DatabaseLinkWindow window(shell, station.databaseLink(), &shell.window);
    ASSERT_NE(window.helpButton(), nullptr);
    EXPECT_EQ(window.helpButton()->text(), "Help");
    window.show();
    window.helpButton()->click();
    ASSERT_EQ(shell.helpAnchors.size(), 1U);
    EXPECT_EQ(shell.helpAnchors.back(), "database-link");
}

class DatabaseWindows : public test::RealDatabaseTest {
protected:
    void SetUp() override {
        RealDatabaseTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        freshTable("gui_readings", "Meter INTEGER, Location VARCHAR(32), Date_Time TIMESTAMP, \"AMPS1\" FLOAT, Notes INTEGER");
        ASSERT_TRUE(test::execSql(source, "DROP TABLE IF EXISTS gui_added"));
        installDatabaseCommands(shell);
    }

    DatabaseLinkWindow* linkWindow() { return shell.window.findChild<DatabaseLinkWindow*>(); }

    test::StubAppShell shell{[this]() -> Station& { return station(); }};
};

TEST_P(DatabaseWindows, OpeningPicksNoDataSourceEvenWhenTheListTakesTheFocus) {
    shell.dispatch(32778);
    DatabaseLinkWindow* window = linkWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_GE(rowOf(window->dataSourceList(), QString::fromStdString(source.dsn)), 0);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    window->dataSourceList()->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    ASSERT_TRUE(window->dataSourceList()->hasFocus());

    // Nothing is picked, so nothing is connected to: a source that wants a password is not
    // tried before the operator could type it.
    EXPECT_TRUE(window->dataSourceList()->selectedItems().isEmpty());
    EXPECT_EQ(station().databaseLink().selectedDataSource(), -1);
    EXPECT_EQ(window->tableList()->count(), 0);
    EXPECT_TRUE(op.messages.empty()) << op.messages[0].text;
}

TEST_P(DatabaseWindows, OperatorLinksATableAndStartsLogging) {
    shell.dispatch(32778);
    DatabaseLinkWindow* window = linkWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isModal());
    EXPECT_EQ(window->windowTitle(), "Save-to-Database Setup");
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::SettingUp);
    EXPECT_EQ(window->variableList()->count(), 45);
    EXPECT_EQ(window->variableList()->currentRow(), 0);
    for (QPushButton* b : {window->okButton(), window->addTableButton(), window->addColumnButton(),
                           window->linkButton(), window->unlinkButton()})
        EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();

    QTest::keyClicks(window->userEdit(), QString::fromStdString(source.user));
    QTest::keyClicks(window->passwordEdit(), QString::fromStdString(source.password));
    EXPECT_EQ(station().databaseLink().password(), source.password);
    window->dataSourceList()->setCurrentRow(rowOf(window->dataSourceList(), QString::fromStdString(source.dsn)));
    EXPECT_TRUE(window->addTableButton()->isEnabled());
    window->tableList()->setCurrentRow(rowOf(window->tableList(), "gui_readings"));
    const std::string notes = source.postgres ? "notes" : "Notes";
    const std::string meter = source.postgres ? "meter" : "Meter";
    EXPECT_EQ(texts(window->mappingList())[0], "Meter\t->\t" + meter);
    EXPECT_EQ(texts(window->mappingList())[4], "\t\t" + notes);
    EXPECT_TRUE(window->okButton()->isEnabled());

    // Amps7 goes to the Notes column by a double click in the variable list.
    window->mappingList()->setCurrentRow(4);
    EXPECT_FALSE(window->unlinkButton()->isEnabled());
    window->variableList()->setCurrentRow(9);
    EXPECT_TRUE(window->linkButton()->isEnabled());
    // The double click as the list reports it (the offscreen platform does not synthesise one).
    emit window->variableList()->itemDoubleClicked(window->variableList()->item(9));
    EXPECT_EQ(texts(window->mappingList())[4], "Amps7\t->\t" + notes);
    EXPECT_TRUE(window->unlinkButton()->isEnabled());
    screenshot(*window, "database_link_dialog");

    window->unlinkButton()->click();
    EXPECT_EQ(texts(window->mappingList())[4], "\t\t" + notes);
    window->linkButton()->click();
    window->okButton()->click();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Active);
    ASSERT_EQ(station().settings().database.links.size(), 5U);
    EXPECT_EQ(station().settings().database.links[4].variable, 9);
    EXPECT_TRUE(op.messages.empty());
}

TEST_P(DatabaseWindows, AddTableFromTheLinkWindowListsTheNewTable) {
    shell.dispatch(32778);
    DatabaseLinkWindow* window = linkWindow();
    ASSERT_NE(window, nullptr);
    window->userEdit()->setText(QString::fromStdString(source.user));
    window->passwordEdit()->setText(QString::fromStdString(source.password));
    window->dataSourceList()->setCurrentRow(rowOf(window->dataSourceList(), QString::fromStdString(source.dsn)));
    shell.answer = [](QDialog& dialog) {
        auto& addTable = dynamic_cast<AddTableWindow&>(dialog);
        addTable.nameEdit()->setText("gui_added");
        addTable.minimalColumnsButton()->click();
        addTable.accept();
        return addTable.result();
    };
    window->addTableButton()->click();
    EXPECT_EQ(shell.modalTitles, std::vector<QString>{"Add Database Table"});
    EXPECT_TRUE(op.messages.empty()) << op.messages[0].text;
    ASSERT_GE(rowOf(window->tableList(), "gui_added"), 0);
    EXPECT_EQ(window->tableList()->currentRow(), -1);
    EXPECT_EQ(window->mappingList()->count(), 0);
    window->cancelButton()->click();
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Off);
    EXPECT_TRUE(station().settings().database.dsn.empty());
}

TEST_P(DatabaseWindows, NewDatabaseWhileLoggingDropsTheLinkAndOpensTheLinkWindow) {
    station().settings().databaseLogging = DatabaseLoggingState::Active;
    station().settings().database = DatabaseSettings{source.dsn, "gui_readings", "", "", 0, {ColumnLink{0, 4, "Meter"}}};
    station().logging().queueForDatabase(std::make_shared<ReadingsRecord>());
    QString shownDsn;
    QString shownTable;
    shell.answer = [&](QDialog& dialog) {
        auto& setup = dynamic_cast<DatabaseSetupWindow&>(dialog);
        shownDsn = setup.dataSourceEdit()->text();
        shownTable = setup.tableEdit()->text();
        EXPECT_TRUE(setup.dataSourceEdit()->isReadOnly());
        EXPECT_TRUE(setup.newDatabaseButton()->isDefault());
        screenshot(setup, "database_setup_dialog");
        setup.newDatabaseButton()->click();
        return setup.result();
    };
    shell.dispatch(32778);
    EXPECT_EQ(shell.modalTitles, std::vector<QString>{"Database Setup"});
    EXPECT_EQ(shownDsn.toStdString(), source.dsn);
    EXPECT_EQ(shownTable, "gui_readings");
    EXPECT_TRUE(station().logging().databaseQueue().empty());
    EXPECT_TRUE(station().settings().database.links.empty());
    ASSERT_NE(linkWindow(), nullptr);
    EXPECT_TRUE(linkWindow()->isVisible());
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::SettingUp);

    // The command does nothing while the link window is open.
    shell.dispatch(32778);
    EXPECT_EQ(shell.modalTitles.size(), 1U);
    EXPECT_EQ(shell.window.findChildren<DatabaseLinkWindow*>().size(), 1);
    linkWindow()->close();
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Off);
}

TEST_P(DatabaseWindows, CancelInDatabaseSetupKeepsLogging) {
    station().settings().databaseLogging = DatabaseLoggingState::Active;
    station().settings().database = DatabaseSettings{source.dsn, "gui_readings", "", "", 0, {ColumnLink{0, 4, "Meter"}}};
    shell.answer = [](QDialog&) { return static_cast<int>(QDialog::Rejected); };
    shell.dispatch(32778);
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Active);
    EXPECT_EQ(station().settings().database.links.size(), 1U);
    EXPECT_EQ(linkWindow(), nullptr);
}

// A database server that accepts the connection and never answers: picking its data source holds
// the connect until the login time-out. Meanwhile the program goes on running (a 10 ms timer
// keeps firing, the wait cursor is shown); then the window tells the failure as it always has and
// lists no tables.
TEST(DatabaseLinkWindowSilentServer, PickingItsDataSourceKeepsTheProgramRunningAndTellsTheFailure) {
    namespace fs = std::filesystem;
    using Clock = std::chrono::steady_clock;
    if (!fs::exists("/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so"))
        GTEST_SKIP() << "the PostgreSQL ODBC driver is not installed";
    test::useTestOdbcEnvironment();
    test::SilentServer server;
    ASSERT_NE(server.port(), 0);
    const fs::path dir = fs::temp_directory_path() / ("quorna-silent-link-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream((dir / "odbc.ini").string()) << "[QuornaSilent]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort="
                                               << server.port() << "\nDatabase=quorna\n";
    const char* previousIni = std::getenv("ODBCINI");
    const std::string oldIni = previousIni != nullptr ? previousIni : "";
    setenv("ODBCINI", (dir / "odbc.ini").c_str(), 1);

    RecordingOperator op;
    test::SpooledStation station(op);
    test::StubAppShell shell(station);
    installDatabaseCommands(shell);
    shell.dispatch(32778);
    auto* window = shell.window.findChild<DatabaseLinkWindow*>();
    ASSERT_NE(window, nullptr);
    const int silentRow = rowOf(window->dataSourceList(), "QuornaSilent");
    ASSERT_GE(silentRow, 0);
    window->userEdit()->setText("quorna");
    window->passwordEdit()->setText("quorna");

    double longestGap = 0;
    int firings = 0;
    auto last = Clock::now();
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        longestGap = std::max(longestGap, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
        ++firings;
    });
    timer.start();
    const auto picked = Clock::now();
    window->dataSourceList()->setCurrentRow(silentRow);
    const auto returned = Clock::now();
    timer.stop();
    const double callMs = std::chrono::duration<double, std::milli>(returned - picked).count();
    longestGap = std::max(longestGap, std::chrono::duration<double, std::milli>(returned - last).count());
    std::cout << "[ figures  ] the pick took " << callMs << " ms; the timer fired " << firings
              << " times, its longest gap " << longestGap << " ms\n";

    EXPECT_GE(callMs, kOdbcLoginTimeoutSeconds * 1000.0 - 500.0) << "the connect waited out the login time-out";
    EXPECT_GT(firings, 0);
    EXPECT_LT(longestGap, 1000.0) << "the event loop went on during the connect";
    EXPECT_EQ(op.texts(),
              std::vector<std::string>{"Can't connect to this database, Unable to make a connection to the data source"});
    EXPECT_EQ(op.waitCursorShows, 1);
    EXPECT_EQ(op.waitCursorDepth, 0);
    EXPECT_EQ(station.databaseLink().selectedDataSource(), silentRow);
    EXPECT_EQ(window->dataSourceList()->currentRow(), silentRow);
    EXPECT_EQ(window->tableList()->count(), 0);
    EXPECT_FALSE(window->addTableButton()->isEnabled());
    EXPECT_FALSE(window->okButton()->isEnabled());
    window->cancelButton()->click();
    EXPECT_EQ(station.settings().databaseLogging, DatabaseLoggingState::Off);

    if (oldIni.empty()) {
        unsetenv("ODBCINI");
    } else {
        setenv("ODBCINI", oldIni.c_str(), 1);
    }
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(RealDatabases, DatabaseWindows, ::testing::Values("SQLite", "PostgreSQL"), test::DataSourceName());

}  // namespace
}  // namespace quorna
