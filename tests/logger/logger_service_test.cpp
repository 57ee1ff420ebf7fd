// quorna-logger as a service runs it, against the simulator: its lines for the journal, SIGHUP
// reading the settings again, the readiness and watchdog datagrams, and meters that answer only
// after the logger started.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

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
using test::firstMoment;
using test::linesWith;
using test::settingsIn;
using test::testClockAt;


// One-minute ticks tickMs apart from the first moment; ticks < 0: the clock never stops.
std::string testClock(int tickMs, int ticks) {
    return testClockAt(firstMoment(), ticks, tickMs);
}


std::vector<std::string> fileLines(const std::string& path) {
    std::istringstream in(readWholeFile(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}


// Waits up to ms for the condition.
template <class Condition>
bool waitFor(int ms, Condition condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

TEST(LoggerJournal, PriorityPrefixesWhenStandardErrorIsTheJournalStream) {
    MeterSimulator sim({"--meter", "1:230"});
    sim.useAsComPort(2);
    const fs::path dir = sim.tempDir();
    const std::string logFile = (dir / "readings.csv").string();
    const std::string good = settingsIn(dir / "good", "port COM2:\nscan 1\ninterval 1\nsave_file " + logFile + "\n");
    const std::string away = settingsIn(dir / "away", "port COM2:\nscan 1\ninterval 1\nsave_file " +
                                                          (dir / "gone" / "x.csv").string() + "\n");
    // The logger's standard error is this file: JOURNAL_STREAM names it as systemd names the journal's stream.
    const std::string errFile = (dir / "logger-stderr.txt").string();
    std::ofstream{errFile};
    struct stat st{};
    ASSERT_EQ(::stat(errFile.c_str(), &st), 0);
    const std::string journal = "JOURNAL_STREAM=" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    std::vector<std::string> lines;

    EXPECT_EQ(runLoggerToEnd({"--once", "--config", good}, {testClock(20, 1), journal}, dir.string(), &lines), kLoggerExitOk);
    ASSERT_EQ(lines.size(), 2U) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0], "<6>info logging the meters on COM2: every 1 minute to the file " + logFile);
    EXPECT_EQ(lines[1].rfind("<6>info the bus scan found 1 meter: ", 0), 0U) << lines[1];

    EXPECT_EQ(runLoggerToEnd({"--once", "--config", away}, {testClock(20, 1), journal}, dir.string(), &lines), kLoggerExitWaiting);
    EXPECT_TRUE(anyLineHas(lines, "<3>error the log file " + (dir / "gone" / "x.csv").string() + " cannot be written ("))
        << ::testing::PrintToString(lines);
    EXPECT_EQ(lines.back(), "<4>warning 1 record could not be written and wait for a later run");

    const std::string nowhere = (dir / "nowhere" / "Quorna.cfg").string();
    EXPECT_EQ(runLoggerToEnd({"--once", "--config", nowhere}, {journal}, dir.string(), &lines), kLoggerExitUnusable);
    EXPECT_EQ(lines, std::vector<std::string>{"<3>error the settings file " + nowhere + " cannot be read: No such file or directory"});

    // The variable inherited by a logger whose standard error goes elsewhere: the lines keep their time.
    EXPECT_EQ(runLoggerToEnd({"--once", "--config", nowhere}, {"JOURNAL_STREAM=1:1"}, dir.string(), &lines), kLoggerExitUnusable);
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_NE(lines[0].find(" error the settings file "), std::string::npos) << lines[0];
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(lines[0][0]))) << lines[0];
}

// "03/07/2002 14:15:00" for the moment k minutes after the first.
std::string momentText(int k) {
    const std::time_t t = firstMoment() + static_cast<std::time_t>(k) * 60;
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%m/%d/%Y %H:%M:%S", &local);
    return text;
}

TEST(LoggerReload, SighupReadsTheSettingsAgainBetweenMomentsAndNoLineIsLostOrDoubled) {
    MeterSimulator sim({"--meter", "1:230", "--meter", "2:230"});
    sim.useAsComPort(2);
    const fs::path dir = sim.tempDir();
    const std::string aLog = (dir / "a.csv").string();
    const std::string bLog = (dir / "b.csv").string();
    const std::string cLog = (dir / "c.csv").string();
    const auto settings = [](int scan, const std::string& log) {
        return "port COM2:\ninterval 1\nscan " + std::to_string(scan) + "\nsave_file " + log + "\nformat 1\n";
    };
    const std::string config = settingsIn(dir / "plant", settings(2, aLog));

    LoggerProcess logger({"--config", config}, {testClock(100, -1)}, dir.string());
    ASSERT_TRUE(waitFor(15000, [&] { return fileLines(aLog).size() >= 4; })) << logger.errText();

    // Settings the logger could not start with are refused; it goes on as it was.
    std::ofstream(config) << "interval 1\nscan 2\nsave_file " + bLog + "\n";
    logger.signal(SIGHUP);
    ASSERT_TRUE(waitFor(5000, [&] { return anyLineHas(logger.errLines(), "; the settings in use are kept"); })) << logger.errText();
    EXPECT_TRUE(anyLineHas(logger.errLines(), " error the settings file " + config +
                                                  " names no port (a line \"port COM1:\"); the settings in use are kept"));
    const std::size_t before = fileLines(aLog).size();
    ASSERT_TRUE(waitFor(5000, [&] { return fileLines(aLog).size() >= before + 4; })) << logger.errText();

    // A new log file: the next moments go there.
    std::ofstream(config) << settings(2, bLog);
    logger.signal(SIGHUP);
    ASSERT_TRUE(waitFor(15000, [&] { return fileLines(bLog).size() >= 4; })) << logger.errText();
    EXPECT_TRUE(anyLineHas(logger.errLines(), " info the settings file " + config +
                                                  " was read again: logging the meters on COM2: every 1 minute to the file " + bLog));

    // A smaller scan depth: the bus is scanned again at once, and only meter 1 is logged.
    std::ofstream(config) << settings(1, cLog);
    logger.signal(SIGHUP);
    ASSERT_TRUE(waitFor(15000, [&] { return fileLines(cLog).size() >= 3; })) << logger.errText();
    logger.signal(SIGTERM);
    ASSERT_EQ(logger.wait(5000), kLoggerExitOk) << logger.errText();
    const auto err = logger.errLines();
    EXPECT_EQ(linesWith(err, " info the bus scan found 2 meters"), 1U) << logger.errText();
    EXPECT_EQ(linesWith(err, " info the bus scan found 1 meter: "), 1U) << logger.errText();
    EXPECT_FALSE(anyLineHas(err, " warning ")) << logger.errText();

    // a.csv, then b.csv, then c.csv: every minute once, meters 1 and 2 while the depth was 2, 1 after.
    std::vector<std::string> all = fileLines(aLog);
    const auto b = fileLines(bLog);
    all.insert(all.end(), b.begin(), b.end());
    const std::size_t twoMeterLines = all.size();
    ASSERT_EQ(twoMeterLines % 2, 0U);
    const auto c = fileLines(cLog);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const int moment = static_cast<int>(i / 2);
        EXPECT_EQ(all[i].substr(0, 22), momentText(moment) + "," + std::to_string(i % 2 + 1) + ",") << "line " << i;
    }
    for (std::size_t i = 0; i < c.size(); ++i) {
        const int moment = static_cast<int>(twoMeterLines / 2 + i);
        EXPECT_EQ(c[i].substr(0, 22), momentText(moment) + ",1,") << "c.csv line " << i;
    }
}

// A datagram socket of the test's own, standing in for the service manager's.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& name) : m_fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::string path = name;
        if (path[0] == '@') path[0] = '\0';
        std::copy(path.begin(), path.end(), address.sun_path);
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + (path[0] == '\0' ? 0 : 1));
        if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) ADD_FAILURE() << "bind " << name;
    }
    ~NotifySocket() { ::close(m_fd); }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;
    // The next datagram, or "" after ms.
    std::string next(int ms) const {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, ms) != 1) return {};
        char buffer[512];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }

private:
    int m_fd;
};

TEST(LoggerWatchdog, ReadyAfterTheFirstScanThenWatchdogPingsThenStopping) {
    MeterSimulator sim({"--meter", "1:230"});
    sim.useAsComPort(2);
    const fs::path dir = sim.tempDir();
    const std::string logFile = (dir / "readings.csv").string();
    const std::string config = settingsIn(dir / "plant", "port COM2:\nscan 1\ninterval 1\nsave_file " + logFile + "\n");

    // In the abstract namespace, with a watchdog period of 1 s: a ping every half second or so,
    // never a whole period without one.
    const std::string name = "@quorna-notify-test-" + std::to_string(::getpid());
    NotifySocket manager(name);
    LoggerProcess logger({"--config", config}, {testClock(50, -1), "NOTIFY_SOCKET=" + name, "WATCHDOG_USEC=1000000"},
                         dir.string());
    EXPECT_EQ(manager.next(10000), "READY=1") << logger.errText();
    EXPECT_TRUE(anyLineHas(logger.errLines(), " info the bus scan found 1 meter")) << "ready after the scan: " << logger.errText();
    const auto start = std::chrono::steady_clock::now();
    int pings = 0;
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(3000)) {
        const std::string message = manager.next(950);
        ASSERT_EQ(message, "WATCHDOG=1") << "no ping within the watchdog period; ping " << pings;
        ++pings;
    }
    EXPECT_GE(pings, 4);
    EXPECT_LE(pings, 8) << "not at every tick, every half period";
    logger.signal(SIGTERM);
    std::string last = manager.next(3000);
    while (last == "WATCHDOG=1") last = manager.next(3000);
    EXPECT_EQ(last, "STOPPING=1");
    EXPECT_EQ(logger.wait(5000), kLoggerExitOk) << logger.errText();

    // A socket with a path name, and no watchdog asked for: READY=1 and STOPPING=1 only.
    const std::string path = (dir / "notify.sock").string();
    NotifySocket pathManager(path);
    EXPECT_EQ(runLoggerToEnd({"--once", "--config", config}, {testClock(20, 1), "NOTIFY_SOCKET=" + path}, dir.string()),
              kLoggerExitOk);
    EXPECT_EQ(pathManager.next(1000), "READY=1");
    EXPECT_EQ(pathManager.next(1000), "STOPPING=1");
    EXPECT_EQ(pathManager.next(100), "");
}

TEST(LoggerLateMeters, AnEmptyScanIsRepeatedAtEveryMomentUntilAMeterAnswers) {
    MeterSimulator sim({"--meter", "1:230"});
    sim.useAsComPort(2);
    sim.fault(1, "silent");
    const fs::path dir = sim.tempDir();
    const std::string logFile = (dir / "readings.csv").string();
    const std::string config = settingsIn(dir / "plant", "port COM2:\nscan 1\ninterval 1\nsave_file " + logFile + "\n");
    std::vector<std::string> lines;

    // --once has no later moment: it says nothing of scanning again, and exits 3.
    EXPECT_EQ(runLoggerToEnd({"--once", "--config", config}, {testClock(20, 1)}, dir.string(), &lines), kLoggerExitWaiting);
    EXPECT_TRUE(anyLineHas(lines, " warning the bus scan up to address 1 found no meter to log"));
    EXPECT_FALSE(anyLineHas(lines, "scanned again")) << ::testing::PrintToString(lines);

    LoggerProcess logger({"--config", config}, {testClock(100, -1)}, dir.string());
    ASSERT_TRUE(waitFor(15000, [&] { return anyLineHas(logger.errLines(), "found no meter to log"); })) << logger.errText();
    sim.clearRequests();
    // The meter stays silent for a while: the logger keeps asking it at the following moments.
    ASSERT_TRUE(waitFor(15000, [&] { return sim.requests().size() >= 3; })) << logger.errText();
    EXPECT_FALSE(fs::exists(logFile));
    sim.fault(1, "none");
    ASSERT_TRUE(waitFor(15000, [&] { return fileLines(logFile).size() >= 3; })) << logger.errText();
    logger.signal(SIGTERM);
    EXPECT_EQ(logger.wait(5000), kLoggerExitOk) << logger.errText();
    lines = logger.errLines();
    EXPECT_EQ(linesWith(lines, " warning the bus scan up to address 1 found no meter to log"), 1U) << logger.errText();
    EXPECT_EQ(linesWith(lines, " info the bus is scanned again at every logging moment until a meter answers"), 1U)
        << logger.errText();
    EXPECT_EQ(linesWith(lines, " info the bus scan found 1 meter: "), 1U) << logger.errText();
}

}  // namespace
}  // namespace quorna
