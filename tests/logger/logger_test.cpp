// quorna-logger against the window program's logging on one simulated bus: the same log file
// bytes and database rows, SIGTERM, the port held exclusively, and what each bad input gives.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "bus/bus.h"
#include "logging/durable_queue.h"
#include "logger/logger_app.h"
#include "logger_process.h"
#include "metersim_harness.h"
#include "odbc_test_env.h"
#include "recording_operator.h"

namespace quorna {
namespace {

namespace fs = std::filesystem;
using test::LoggerProcess;
using test::MeterSimulator;
using test::readWholeFile;
using test::runLoggerToEnd;
using test::anyLineHas;
using test::firstMoment;
using test::linesWith;
using test::settingsIn;
using test::testClockAt;


// The logger's clock for a run of `ticks` one-minute ticks 20 ms apart, from the first moment.
std::string testClock(int ticks) {
    return testClockAt(firstMoment(), ticks);
}

// Two Branch meters with currents of their own at 1 and 2, a Circuit meter at 3 (listed, not logged).
std::vector<std::string> threeMeters() { return {"--meter", "1:230", "--meter", "2:230", "--meter", "3:236"}; }
void storeCurrents(MeterSimulator& sim) {
    for (int address = 1; address <= 2; ++address) {
        std::vector<int> mA;
        for (int i = 0; i < 42; ++i) mA.push_back(address * 10000 + i * 137);
        sim.set(address, 0, mA);
    }
}

std::string settingsText(const std::string& logFile, const test::TestDataSource* db) {
    std::string text = "location North Plant\ninterval 1\nport COM2:\nspeed 2048\nparity 0\nscan 3\n";
    if (!logFile.empty()) text += "save_file " + logFile + "\nformat 1\n";
    if (db != nullptr) {
        text += "dsn " + db->dsn + "\ntable readings\n";
        if (!db->user.empty()) text += "user " + db->user + "\npasswd " + db->password + "\n";
        text += "link 0 4 Meter\nlink 1 12 Location\nlink 2 11 Date_Time\nlink 3 6 Amps1\nlink 44 6 Amps42\n";
    }
    return text;
}


std::size_t lineCount(const std::string& path) {
    const std::string text = readWholeFile(path);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Every line: ISO 8601 local time with its offset, a level, a text.
void expectLoggerLines(const std::vector<std::string>& lines) {
    // "2026-03-07T14:15:00+01:00 ": digits where the pattern has 9, the rest as it stands.
    const std::string pattern = "9999-99-99T99:99:99+99:99 ";
    const auto formed = [&pattern](const std::string& line) {
        if (line.size() <= pattern.size()) return false;
        for (std::size_t i = 0; i < pattern.size(); ++i) {
            const char p = pattern[i];
            const char c = line[i];
            const bool ok = p == '9' ? std::isdigit(static_cast<unsigned char>(c)) != 0 : p == '+' ? (c == '+' || c == '-') : c == p;
            if (!ok) return false;
        }
        const std::string rest = line.substr(pattern.size());
        for (const char* level : {"error ", "warning ", "info "}) {
            const std::string l = level;
            if (rest.rfind(l, 0) == 0 && rest.size() > l.size() && rest[l.size()] != ' ') return true;
        }
        return false;
    };
    for (const auto& line : lines) EXPECT_TRUE(formed(line)) << line;
}


class LoggerAgainstWindow : public test::RealDatabaseTest {
protected:
    void TearDown() override {
        if (databaseAway) test::bringDatabaseBack(source);
        RealDatabaseTest::TearDown();
    }
    std::vector<std::vector<std::string>> rows() {
        return test::querySql(source, "SELECT Meter, Location, Date_Time, Amps1, Amps42 FROM readings ORDER BY Date_Time, Meter", 5);
    }
    bool databaseAway = false;
};

TEST_P(LoggerAgainstWindow, SameLinesAndRowsSignalsAndTheHeldPort) {
    freshTable("readings", "Meter INTEGER, Location VARCHAR(32), Date_Time TIMESTAMP, Amps1 FLOAT, Amps42 FLOAT");
    MeterSimulator sim(threeMeters());
    storeCurrents(sim);
    sim.useAsComPort(2);
    const fs::path dir = sim.tempDir();

    // The window program: its station, read from the settings file, ticked at three moments.
    const std::string windowLog = (dir / "window" / "readings.csv").string();
    station().useConfigFile(settingsIn(dir / "window", settingsText(windowLog, &source)));
    ASSERT_TRUE(station().readSettings());
    std::time_t now = firstMoment();
    station().logging().useClock([&now] { return now; });
    for (int k = 0; k < 3; ++k, now += 60) station().PollingCycle();
    dropStation();
    const std::string windowLines = readWholeFile(windowLog);
    ASSERT_EQ(lineCount(windowLog), 6U) << windowLines;
    EXPECT_EQ(windowLines.substr(0, 31), "03/07/2002 14:15:00,1,10.000,10");
    const auto windowRows = rows();
    ASSERT_EQ(windowRows.size(), 6U);
    ASSERT_TRUE(test::execSql(source, "DELETE FROM readings"));

    // The logger as a service: three one-minute ticks, then its clock stands still.
    const std::string serviceLog = (dir / "service" / "readings.csv").string();
    const std::string serviceConfig = settingsIn(dir / "service", settingsText(serviceLog, &source));
    {
        LoggerProcess logger({"--config", serviceConfig}, {testClock(3)}, dir.string());
        for (int i = 0; i < 600 && lineCount(serviceLog) < 6; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the database rows of the last moment

        // The port is the logger's: the window program cannot open it.
        test::RecordingOperator otherOp;
        Bus other(otherOp);
        EXPECT_FALSE(openPort(other, "COM2:", false));
        EXPECT_EQ(otherOp.texts(), std::vector<std::string>{"Unable to open COM2:"});

        const auto asked = std::chrono::steady_clock::now();
        logger.signal(SIGTERM);
        EXPECT_EQ(logger.wait(5000), 0) << logger.errText();
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
        const auto lines = logger.errLines();
        expectLoggerLines(lines);
        EXPECT_TRUE(anyLineHas(lines, " info stopping")) << logger.errText();
        EXPECT_FALSE(anyLineHas(lines, " error ")) << logger.errText();
    }
    EXPECT_EQ(readWholeFile(serviceLog), windowLines);
    EXPECT_EQ(rows(), windowRows);
    ASSERT_TRUE(test::execSql(source, "DELETE FROM readings"));

    // --once: the first moment alone, every record written.
    const std::string onceLog = (dir / "once" / "readings.csv").string();
    const std::string onceConfig = settingsIn(dir / "once", settingsText(onceLog, &source));
    std::vector<std::string> lines;
    EXPECT_EQ(runLoggerToEnd({"--once", "--config", onceConfig}, {testClock(1)}, dir.string(), &lines), kLoggerExitOk);
    EXPECT_EQ(readWholeFile(onceLog), windowLines.substr(0, windowLines.size() / 3));
    EXPECT_EQ(rows(), std::vector(windowRows.begin(), windowRows.begin() + 2));

    // --once with the database away: the lines are written, the rows wait in the spool, exit code 3.
    test::takeDatabaseAway(source);
    databaseAway = true;
    EXPECT_EQ(runLoggerToEnd({"--once", "--config", onceConfig}, {testClock(1)}, dir.string(), &lines), kLoggerExitWaiting);
    expectLoggerLines(lines);
    EXPECT_TRUE(anyLineHas(lines, " error Error connecting"));
    EXPECT_TRUE(anyLineHas(lines, " warning 2 records could not be written and wait for a later run"))
        << ::testing::PrintToString(lines);
    EXPECT_EQ(lineCount(onceLog), 4U);

    // The next run, with the database back, writes the spooled rows before its own.
    test::bringDatabaseBack(source);
    databaseAway = false;
    EXPECT_EQ(runLoggerToEnd({"--once", "--config", onceConfig}, {testClock(1)}, dir.string(), &lines), kLoggerExitOk);
    EXPECT_EQ(rows().size(), 6U);
    EXPECT_EQ(lineCount(onceLog), 6U);
}

TEST_P(LoggerAgainstWindow, RunsWithoutTheDriverManagerKeepWhatWaitsForTheDatabase) {
    freshTable("readings", "Meter INTEGER, Location VARCHAR(32), Date_Time TIMESTAMP, Amps1 FLOAT, Amps42 FLOAT");
    MeterSimulator sim(threeMeters());
    storeCurrents(sim);
    sim.useAsComPort(2);
    const fs::path dir = sim.tempDir();
    const std::string log = (dir / "plant" / "readings.csv").string();
    const std::string config = settingsIn(dir / "plant", settingsText(log, &source));
    std::vector<std::string> lines;

    // Two runs on a box whose ODBC driver manager cannot be loaded: database logging is switched
    // off, the lines are written, and the rows wait in the spool for a run that has it.
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(runLoggerToEnd({"--once", "--config", config},
                                 {testClock(1), "QUORNA_ODBC_LIBRARY=" + (dir / "no-libodbc.so.2").string()}, dir.string(),
                                 &lines),
                  kLoggerExitWaiting);
        EXPECT_TRUE(anyLineHas(lines, " warning " + std::to_string(2 * (run + 1)) +
                                          " records could not be written and wait for a later run"))
            << ::testing::PrintToString(lines);
    }
    EXPECT_EQ(lineCount(log), 4U);
    EXPECT_TRUE(rows().empty());

    // The library is back: both runs' rows reach the table before this run's own.
    EXPECT_EQ(runLoggerToEnd({"--once", "--config", config}, {testClock(1)}, dir.string(), &lines), kLoggerExitOk)
        << ::testing::PrintToString(lines);
    EXPECT_EQ(rows().size(), 6U);
    EXPECT_EQ(lineCount(log), 6U);
}

INSTANTIATE_TEST_SUITE_P(DataSources, LoggerAgainstWindow, ::testing::Values("SQLite", "PostgreSQL"), test::DataSourceName());

TEST(LoggerBadInput, OneClearLineAndTheDocumentedExitCode) {
    MeterSimulator sim({"--meter", "1:230"});
    sim.useAsComPort(2);
    const fs::path dir = sim.tempDir();
    std::vector<std::string> lines;
    const auto run = [&](const std::vector<std::string>& args) {
        return runLoggerToEnd(args, {testClock(1)}, dir.string(), &lines);
    };

    EXPECT_EQ(run({"--once", "--config", (dir / "nowhere" / "Quorna.cfg").string()}), kLoggerExitUnusable);
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_NE(lines[0].find(" error the settings file " + (dir / "nowhere" / "Quorna.cfg").string() +
                            " cannot be read: No such file or directory"), std::string::npos) << lines[0];
    expectLoggerLines(lines);

    EXPECT_EQ(run({"--once", "--rescan", "0"}), kLoggerExitUnusable);
    EXPECT_EQ(run({"--once", "--colour"}), kLoggerExitUnusable);

    const std::string noSink = settingsIn(dir / "nosink", "port COM2:\nscan 1\n");
    EXPECT_EQ(run({"--once", "--config", noSink}), kLoggerExitUnusable);
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_NE(lines[0].find(" error the settings file " + noSink + " names neither a log file"), std::string::npos) << lines[0];

    const std::string logFile = (dir / "readings.csv").string();
    const std::string noPort = settingsIn(dir / "noport", "scan 1\nsave_file " + logFile + "\n");
    EXPECT_EQ(run({"--once", "--config", noPort}), kLoggerExitUnusable);
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_NE(lines[0].find(" names no port"), std::string::npos) << lines[0];

    const std::string missingDevice = settingsIn(dir / "missing", "port COM4:\nscan 1\nsave_file " + logFile + "\n");
    setenv("QUORNA_COM4", (dir / "no-such-tty").c_str(), 1);
    EXPECT_EQ(run({"--once", "--config", missingDevice}), kLoggerExitUnusable);
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_NE(lines[0].find(" error the port COM4: cannot be opened: " + (dir / "no-such-tty").string() +
                            ": No such file or directory"), std::string::npos) << lines[0];
    unsetenv("QUORNA_COM4");

    // The window program holds the port.
    const std::string good = settingsIn(dir / "good", "port COM2:\nscan 1\ninterval 1\nsave_file " + logFile + "\n");
    {
        test::RecordingOperator windowOp;
        Bus window(windowOp);
        ASSERT_TRUE(openPort(window, "COM2:", false));
        EXPECT_EQ(run({"--once", "--config", good}), kLoggerExitUnusable);
        ASSERT_EQ(lines.size(), 1U);
        EXPECT_NE(lines[0].find(" error the port COM2: cannot be opened: " + sim.device() + ": in use by another program"),
                  std::string::npos) << lines[0];
    }
    EXPECT_EQ(run({"--once", "--config", good}), kLoggerExitOk);
    expectLoggerLines(lines);
    EXPECT_EQ(lineCount(logFile), 1U);

    // A log file that cannot be opened: nothing written, the record waits, exit code 3.
    const std::string lost = settingsIn(dir / "lost", "port COM2:\nscan 1\nsave_file " + (dir / "gone" / "x.csv").string() + "\n");
    EXPECT_EQ(run({"--once", "--config", lost}), kLoggerExitWaiting);
    EXPECT_TRUE(anyLineHas(lines, " warning 1 record could not be written and wait for a later run"));

    // ... and a spool that cannot be made either (its name taken by a folder): the record is lost, exit code 2.
    const std::string stuck = settingsIn(dir / "stuck", "port COM2:\nscan 1\nsave_file " + (dir / "gone" / "x.csv").string() + "\n");
    std::filesystem::create_directories(dir / "stuck" / "Quorna-spool.db");
    EXPECT_EQ(run({"--once", "--config", stuck}), kLoggerExitUnusable);
    EXPECT_TRUE(anyLineHas(lines, " error Couldn't write the spool file \"Quorna-spool.db\""));
    EXPECT_TRUE(anyLineHas(lines, " error 1 record could not be written, and the spool beside the settings file could "
                                  "not keep them: they are lost"));
}

}  // namespace
}  // namespace quorna

namespace quorna {
namespace {

TEST(LoggerSpool, EachSettingsFileHasItsOwnSpoolAndASecondProcessOnOneIsRefused) {
    MeterSimulator sim(threeMeters());
    storeCurrents(sim);
    sim.useAsComPort(2);
    const fs::path dir = fs::path(sim.tempDir()) / "two";
    fs::create_directories(dir);
    // Two settings files in one folder, each with a log file of its own.
    const std::string aLog = (dir / "away" / "a.csv").string();
    const std::string bLog = (dir / "b.csv").string();
    const std::string aConfig = (dir / "a.cfg").string();
    const std::string bConfig = (dir / "b.cfg").string();
    std::ofstream(aConfig) << settingsText(aLog, nullptr);
    std::ofstream(bConfig) << settingsText(bLog, nullptr);
    std::vector<std::string> lines;

    // a's lines wait (its folder is away): in a's spool, never in b's file.
    EXPECT_EQ(runLoggerToEnd({"--once", "--config", aConfig}, {testClock(1)}, dir.string(), &lines), kLoggerExitWaiting);
    EXPECT_TRUE(fs::exists(dir / "a-spool.db"));
    EXPECT_EQ(runLoggerToEnd({"--once", "--config", bConfig}, {testClock(1)}, dir.string(), &lines), kLoggerExitOk);
    EXPECT_EQ(lineCount(bLog), 2U) << "b's own moment only";
    EXPECT_TRUE(fs::exists(dir / "b-spool.db"));
    EXPECT_FALSE(fs::exists(dir / "Quorna-spool.db"));
    fs::create_directories(dir / "away");
    EXPECT_EQ(runLoggerToEnd({"--once", "--config", aConfig}, {testClock(1)}, dir.string(), &lines), kLoggerExitOk);
    EXPECT_EQ(lineCount(aLog), 4U);

    // A logger runs on a.cfg: a second one on it is refused with one line, before the port.
    LoggerProcess first({"--config", aConfig}, {testClock(-1)}, dir.string());
    for (int i = 0; i < 400 && lineCount(aLog) < 6; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    ASSERT_GE(lineCount(aLog), 6U) << first.errText();
    EXPECT_EQ(runLoggerToEnd({"--once", "--config", aConfig}, {testClock(1)}, dir.string(), &lines), kLoggerExitUnusable);
    ASSERT_EQ(lines.size(), 1U) << ::testing::PrintToString(lines);
    EXPECT_NE(lines[0].find(" error the spool " + (dir / "a-spool.db").string() +
                            " is in use by another program logging with these settings"), std::string::npos) << lines[0];

    // The window program on that spool says so, once, and keeps its readings in memory.
    test::RecordingOperator windowOp;
    Station window(windowOp);
    window.useConfigFile(aConfig);
    ASSERT_TRUE(window.readSettings());
    window.settings().logFilePath = (dir / "window.csv").string();
    for (int k = 0; k < 2; ++k) {
        auto record = std::make_shared<ReadingsRecord>();
        record->model = 230;
        record->address = 1;
        record->time = firstMoment();
        window.logging().queueForFile(record);
        keepWaitingRecords(window.logging());
    }
    EXPECT_EQ(windowOp.texts(), std::vector<std::string>{"The spool file is in use by another program: a-spool.db\n"
                                                         "Readings are kept in memory until it is free"});
    EXPECT_EQ(window.logging().fileQueue().size(), 2U);
    first.signal(SIGTERM);
    EXPECT_EQ(first.wait(5000), kLoggerExitOk) << first.errText();
}

TEST(LoggerStop, ASignalDuringAScanOfASilentBusEndsItAtOnce) {
    MeterSimulator sim({"--meter", "1:230"});
    sim.useAsComPort(2);
    const fs::path dir = sim.tempDir();
    const std::string logFile = (dir / "readings.csv").string();
    // Addresses 2 to 40 are silent: the scan alone would take half a minute.
    const std::string config = settingsIn(dir / "scan", "port COM2:\nscan 40\ninterval 1\nsave_file " + logFile + "\n");
    LoggerProcess logger({"--config", config}, {}, dir.string());
    for (int i = 0; i < 100 && sim.requests().size() < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto asked = std::chrono::steady_clock::now();
    logger.signal(SIGINT);
    EXPECT_EQ(logger.wait(10000), kLoggerExitOk) << logger.errText();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
    EXPECT_LT(sim.requests().size(), 6U) << "the scan went on";
    EXPECT_FALSE(fs::exists(logFile)) << "no logging moment after the stop";
    EXPECT_TRUE(anyLineHas(logger.errLines(), " info stopping")) << logger.errText();
}

}  // namespace
}  // namespace quorna
