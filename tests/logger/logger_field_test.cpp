// quorna-logger as it meets the field: meters behind both kinds of gateway, named in the settings
// file or through QUORNA_COMn; settings files that are no files; a log file that cannot be
// written, up to a file-size limit; a bus where nothing answers; a meter whose first answer was
// garbled.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "logger/logger_app.h"
#include "logger_process.h"
#include "metersim_harness.h"

namespace quorna {
namespace {

namespace fs = std::filesystem;
using test::LoggerProcess;
using test::MeterSimulator;
using test::readWholeFile;
using test::runLoggerToEnd;
using test::anyLineHas;
using test::linesWith;
using test::settingsIn;
using test::testClockAt;

// 9 December 2026, 08:00 local time, and one-minute ticks `tickMs` apart from there.
std::string testClock(int ticks, int tickMs = 20) {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 9;
    t.tm_hour = 8;
    t.tm_isdst = -1;
    return testClockAt(std::mktime(&t), ticks, tickMs);
}


std::string logSettings(const std::string& port, const fs::path& log, int depth = 2) {
    return "interval 1\nport " + port + "\nscan " + std::to_string(depth) + "\nsave_file " + log.string() + "\nformat 1\n";
}



void waitFor(const std::function<bool()>& done, int ms) {
    for (int i = 0; i < ms / 20 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void storeCurrents(MeterSimulator& sim, int address) {
    std::vector<int> mA;
    for (int i = 0; i < 42; ++i) mA.push_back(address * 1000 + i * 37);
    sim.set(address, 0, mA);
}

// The port named in "Quorna.cfg" itself, or as COM3: with QUORNA_COM3 naming the gateway.
struct Crossing {
    const char* scheme;
    bool throughVariable;
};

class LoggerOnGateway : public ::testing::TestWithParam<Crossing> {};

// Whatever the port, the logger writes the same lines as on the pseudo-terminal: once, and as a
// service that logs two moments and stops on SIGTERM.
TEST_P(LoggerOnGateway, LogsTheSameLinesAsOnTheSerialLine) {
    MeterSimulator sim({"--meter", "1:230", "--tcp", "0", "--rtu-tcp", "0"});
    storeCurrents(sim, 1);
    sim.useAsComPort(2);
    const fs::path dir = sim.tempDir();

    const fs::path serialLog = dir / "serial" / "readings.csv";
    ASSERT_EQ(runLoggerToEnd({"--once", "--config", settingsIn(dir / "serial", logSettings("COM2:", serialLog))},
                             {testClock(1)}, dir.string()),
              kLoggerExitOk);
    const std::string expected = readWholeFile(serialLog.string());
    ASSERT_EQ(expected.substr(0, 30), "12/09/2026 08:00:00,1,1.000,1.") << expected;

    const std::string gateway = sim.gatewayName(GetParam().scheme);
    ASSERT_FALSE(gateway.empty());
    const std::string port = GetParam().throughVariable ? "COM3:" : gateway;
    const std::vector<std::string> env = {"QUORNA_COM3=" + gateway};

    const fs::path onceLog = dir / "once" / "readings.csv";
    std::vector<std::string> lines;
    EXPECT_EQ(runLoggerToEnd({"--once", "--config", settingsIn(dir / "once", logSettings(port, onceLog))},
                             {testClock(1), env[0]}, dir.string(), &lines),
              kLoggerExitOk)
        << ::testing::PrintToString(lines);
    EXPECT_EQ(readWholeFile(onceLog.string()), expected);

    const fs::path serviceLog = dir / "service" / "readings.csv";
    LoggerProcess service({"--config", settingsIn(dir / "service", logSettings(port, serviceLog))},
                          {testClock(2, 200), env[0]}, dir.string());
    waitFor([&] { return readWholeFile(serviceLog.string()).size() >= 2 * expected.size(); }, 15000);
    service.signal(SIGTERM);
    EXPECT_EQ(service.wait(5000), kLoggerExitOk) << service.errText();
    const std::string text = readWholeFile(serviceLog.string());
    ASSERT_EQ(text.size(), 2 * expected.size()) << text;
    EXPECT_EQ(text.substr(0, expected.size()), expected);
    EXPECT_EQ(text.substr(expected.size(), 20), "12/09/2026 08:01:00,");
    EXPECT_FALSE(anyLineHas(service.errLines(), " error ")) << service.errText();
}

INSTANTIATE_TEST_SUITE_P(Ports, LoggerOnGateway,
                         ::testing::Values(Crossing{"tcp://", false}, Crossing{"tcp://", true},
                                           Crossing{"rtu+tcp://", false}, Crossing{"rtu+tcp://", true}),
                         [](const auto& info) {
                             return std::string(info.param.scheme[0] == 't' ? "ModbusTcp" : "RtuOverTcp") +
                                    (info.param.throughVariable ? "ThroughComVariable" : "InSettingsFile");
                         });

TEST(LoggerOnGatewayAway, AGatewayThatRefusesIsUnableToOpenWithExitCode2) {
    const fs::path dir = fs::temp_directory_path() / ("quorna-away-" + std::to_string(::getpid()));
    // Port 1 on the loopback: nothing listens there.
    std::vector<std::string> lines;
    EXPECT_EQ(runLoggerToEnd({"--once", "--config", settingsIn(dir, logSettings("tcp://127.0.0.1:1", dir / "r.csv"))},
                             {testClock(1)}, dir.string(), &lines),
              kLoggerExitUnusable);
    EXPECT_TRUE(anyLineHas(lines, " error Comm Port Open Failure: Unable to open tcp://127.0.0.1:1")) << ::testing::PrintToString(lines);
    fs::remove_all(dir);
}

// Inputs that are no settings file end at once with one line, whatever they would feed.
TEST(LoggerField, SettingsThatAreNoFileNoMeterAndAFileSizeLimit) {
    MeterSimulator sim({"--meter", "1:230"});
    storeCurrents(sim, 1);
    sim.useAsComPort(2);
    const fs::path dir = sim.tempDir();
    std::vector<std::string> lines;

    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    for (const std::string& odd : std::vector<std::string>{"/dev/zero", (dir / "fifo").string(), dir.string()}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(runLoggerToEnd({"--once", "--config", odd}, {testClock(1)}, dir.string(), &lines), kLoggerExitUnusable);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        ASSERT_EQ(lines.size(), 1U) << odd;
        EXPECT_NE(lines[0].find(" error the settings file " + odd + " cannot be read: not a regular file"), std::string::npos)
            << lines[0];
    }
    const fs::path huge = dir / "huge.cfg";
    fs::resize_file((std::ofstream(huge) << "port COM2:\n", huge), 2 * 1024 * 1024);
    EXPECT_EQ(runLoggerToEnd({"--once", "--config", huge.string()}, {testClock(1)}, dir.string(), &lines), kLoggerExitUnusable);
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_NE(lines[0].find("cannot be read: larger than 1 MiB"), std::string::npos) << lines[0];

    // A bus where nothing answers: nothing was logged, which a later run may mend.
    sim.fault(1, "silent");
    const fs::path quietLog = dir / "quiet" / "readings.csv";
    EXPECT_EQ(runLoggerToEnd({"--once", "--config", settingsIn(dir / "quiet", logSettings("COM2:", quietLog, 1))},
                             {testClock(1)}, dir.string(), &lines),
              kLoggerExitWaiting);
    EXPECT_TRUE(anyLineHas(lines, " warning the bus scan up to address 1 found no meter to log"));
    sim.fault(1, "none");

    // A file-size limit below the log file's size: the write fails, the line waits, the logger lives.
    const fs::path limitedLog = dir / "limited" / "readings.csv";
    const std::string limited = settingsIn(dir / "limited", logSettings("COM2:", limitedLog, 1));
    fs::resize_file((std::ofstream(limitedLog), limitedLog), 300 * 1024);
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit low = before;
    low.rlim_cur = 256 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &low), 0);
    int code = -1;
    {
        LoggerProcess logger({"--once", "--config", limited}, {testClock(1)}, dir.string());
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &before), 0);
        code = logger.wait(30000);
        lines = logger.errLines();
    }
    EXPECT_EQ(code, kLoggerExitWaiting) << ::testing::PrintToString(lines);
    EXPECT_TRUE(anyLineHas(lines, " error the log file " + limitedLog.string() +
                                      " cannot be written (File too large): its lines wait in the spool"))
        << ::testing::PrintToString(lines);
    EXPECT_EQ(fs::file_size(limitedLog), 300U * 1024U);
    // Without the limit the waiting line goes out first, then the new moment's.
    EXPECT_EQ(runLoggerToEnd({"--once", "--config", limited}, {testClock(1)}, dir.string(), &lines), kLoggerExitOk);
    const std::string added = readWholeFile(limitedLog.string()).substr(300 * 1024);
    EXPECT_EQ(std::count(added.begin(), added.end(), '\n'), 2) << added;
    EXPECT_EQ(added.substr(0, 22), "12/09/2026 08:00:00,1,") << added;
}

// Nobody watches the logger: a log file it cannot write is said when it starts and when it ends,
// with the number of moments it lasted, and the lines go out once the folder is back.
TEST(LoggerField, ALogFileThatCannotBeWrittenIsSaidOnceAndWhenItEnds) {
    MeterSimulator sim({"--meter", "1:230"});
    storeCurrents(sim, 1);
    sim.useAsComPort(2);
    const fs::path dir = sim.tempDir();
    const fs::path log = dir / "away" / "readings.csv";
    LoggerProcess logger({"--config", settingsIn(dir / "cfg", logSettings("COM2:", log, 1))}, {testClock(-1, 150)},
                         dir.string());
    const std::string said = " error the log file " + log.string() + " cannot be written (No such file or directory): "
                             "its lines wait in the spool";
    waitFor([&] { return anyLineHas(logger.errLines(), said); }, 10000);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));  // a few more moments
    fs::create_directories(log.parent_path());
    waitFor([&] { return anyLineHas(logger.errLines(), "ended after"); }, 10000);
    logger.signal(SIGTERM);
    EXPECT_EQ(logger.wait(5000), kLoggerExitOk);
    const auto lines = logger.errLines();
    EXPECT_EQ(linesWith(lines, said), 1U) << logger.errText();
    EXPECT_TRUE(anyLineHas(lines, " info ended after ")) << logger.errText();
    EXPECT_FALSE(readWholeFile(log.string()).empty()) << logger.errText();
}

// A meter whose answer to the start-up scan was garbled (another master's answer still on the
// line) is asked again at the next logging moments, listed and logged once it answers.
TEST(LoggerField, AMeterGarbledDuringTheScanIsProbedAgainAndLogged) {
    MeterSimulator sim({"--meter", "1:230", "--meter", "2:230"});
    storeCurrents(sim, 1);
    storeCurrents(sim, 2);
    sim.useAsComPort(2);
    sim.fault(2, "badcrc");
    const fs::path dir = sim.tempDir();
    const fs::path log = dir / "readings.csv";
    LoggerProcess logger({"--config", settingsIn(dir / "cfg", logSettings("COM2:", log, 2))}, {testClock(4, 700)},
                         dir.string());
    waitFor([&] { return anyLineHas(logger.errLines(), "the bus scan found 1 meter"); }, 10000);
    sim.fault(2, "none");
    waitFor([&] { return readWholeFile(log.string()).find("08:03:00,2,") != std::string::npos; }, 15000);
    logger.signal(SIGTERM);
    EXPECT_EQ(logger.wait(5000), kLoggerExitOk);
    const std::string text = readWholeFile(log.string());
    EXPECT_NE(text.find("08:00:00,1,"), std::string::npos) << text;
    EXPECT_NE(text.find(",2,2.000,2.037,"), std::string::npos) << text;
    EXPECT_NE(text.find("08:03:00,2,"), std::string::npos) << text;
}

}  // namespace
}  // namespace quorna
