// quorna-logger against a database server that accepts the connection and never answers: every
// logging moment waits at most the login time-out, the log file goes on, the rows wait in the
// spool, and SIGTERM is answered within that bound.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "logger/logger_app.h"
#include "logger_process.h"
#include "logging/odbc_library.h"
#include "metersim_harness.h"
#include "odbc_test_env.h"
#include "silent_server.h"

namespace quorna {
namespace {

using test::anyLineHas;
using test::firstMoment;
using test::linesWith;
using test::settingsIn;
using test::testClockAt;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using test::SilentServer;

// Points unixODBC at a data-source file of the test's own for the life of the object.
class PrivateOdbcIni {
public:
    explicit PrivateOdbcIni(const std::string& path) {
        if (const char* old = std::getenv("ODBCINI")) m_old = old;
        setenv("ODBCINI", path.c_str(), 1);
    }
    ~PrivateOdbcIni() {
        if (m_old.empty()) {
            unsetenv("ODBCINI");
        } else {
            setenv("ODBCINI", m_old.c_str(), 1);
        }
    }
    PrivateOdbcIni(const PrivateOdbcIni&) = delete;
    PrivateOdbcIni& operator=(const PrivateOdbcIni&) = delete;

private:
    std::string m_old;
};


std::string testClock(int ticks) {
    return testClockAt(firstMoment(), ticks);
}

std::size_t lineCount(const std::string& path) {
    const std::string text = test::readWholeFile(path);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}


double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

TEST(LoggerSilentDatabase, EachMomentWaitsAtMostTheLoginTimeOutAndSigtermIsAnswered) {
    if (!fs::exists("/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so")) GTEST_SKIP() << "the PostgreSQL ODBC driver is not installed";
    test::useTestOdbcEnvironment();  // the drivers' odbcinst.ini
    SilentServer server;
    ASSERT_NE(server.port(), 0);

    test::MeterSimulator sim({"--meter", "1:230", "--meter", "2:230"});
    sim.useAsComPort(2);
    const fs::path dir = sim.tempDir();
    const std::string ini = (dir / "odbc.ini").string();
    std::ofstream(ini) << "[QuornaSilent]\nDescription=A server that never answers\nDriver=PostgreSQL Unicode\n"
                          "Servername=127.0.0.1\nPort="
                       << server.port() << "\nDatabase=quorna\n";
    const PrivateOdbcIni privateIni(ini);
    const auto configIn = [&dir](const std::string& name) {
        fs::create_directories(dir / name);
        const std::string log = (dir / name / "readings.csv").string();
        std::ofstream(dir / name / "Quorna.cfg")
            << "location North Plant\ninterval 1\nport COM2:\nspeed 2048\nparity 0\nscan 3\nsave_file " << log
            << "\nformat 1\ndsn QuornaSilent\ntable readings\nuser quorna\npasswd quorna\n"
               "link 0 4 Meter\nlink 2 11 Date_Time\nlink 3 6 Amps1\n";
        return std::pair{(dir / name / "Quorna.cfg").string(), log};
    };
    const double bound = static_cast<double>(kOdbcLoginTimeoutSeconds);

    // --once: the lines are written, the connection gives up after the login time-out, and the
    // rows wait in the spool (exit code 3).
    {
        const auto [config, log] = configIn("once");
        std::vector<std::string> lines;
        const auto start = Clock::now();
        EXPECT_EQ(test::runLoggerToEnd({"--once", "--config", config}, {testClock(1)}, dir.string(), &lines),
                  kLoggerExitWaiting)
            << ::testing::PrintToString(lines);
        const double took = secondsSince(start);
        EXPECT_LT(took, bound + 6.0) << "a silent server costs one login time-out";
        EXPECT_GE(took, bound - 0.5) << "the wait ended by the time-out, not by a refusal";
        EXPECT_TRUE(anyLineHas(lines, " error Error connecting")) << ::testing::PrintToString(lines);
        EXPECT_TRUE(anyLineHas(lines, " warning 2 records could not be written and wait for a later run"))
            << ::testing::PrintToString(lines);
        EXPECT_EQ(lineCount(log), 2U);
        std::cout << "[ figures  ] --once against a silent server: " << took << " s\n";
    }

    // As a service: the moments go on at the pace of the time-out, and SIGTERM sent while the
    // writer waits for the server ends the logger within it.
    {
        const auto [config, log] = configIn("service");
        test::LoggerProcess logger({"--config", config}, {testClock(3)}, dir.string());
        const auto start = Clock::now();
        while (lineCount(log) < 4 && secondsSince(start) < 4 * bound + 10) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const double twoMoments = secondsSince(start);
        EXPECT_EQ(lineCount(log), 4U) << "the second moment is logged after the first one's wait";
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the second moment's writer is waiting now
        const auto asked = Clock::now();
        logger.signal(SIGTERM);
        EXPECT_EQ(logger.wait(static_cast<int>((bound + 10) * 1000)), kLoggerExitOk) << logger.errText();
        const double stopped = secondsSince(asked);
        EXPECT_LT(stopped, bound + 3.0) << logger.errText();
        const auto lines = logger.errLines();
        EXPECT_TRUE(anyLineHas(lines, " info stopping")) << logger.errText();
        std::cout << "[ figures  ] service: two moments logged after " << twoMoments << " s; stopped " << stopped
                  << " s after SIGTERM\n";
    }
}

}  // namespace
}  // namespace quorna
