// A fault soak: two minutes of logging moments (one per second of wall time) of three Branch
// meters into the log file and PostgreSQL, while the meters go silent, answer with bad CRCs and
// in pieces, the log folder disappears twice, the database server stops twice and the logging
// core is killed without warning twice and started again on the same spool. At the end the file
// holds every witnessed moment's lines exactly once, in time order, with the meters' values, and
// the table holds every one of them, doubled at most for a moment whose commit raced a kill.
//
// A second, shorter soak aims at the spool: the core is killed right after each of the spool's
// commits in turn (the moment's records in, the note of an append, the append's end, a database
// moment's end), restarted with its log folder away, after its log file was rotated, and on a
// spool overwritten with garbage, with the same count at the end.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "metersim_harness.h"
#include "odbc_test_env.h"

namespace quorna::test {
namespace {

namespace fs = std::filesystem;

constexpr int kSeconds = 120;
// The first current of meter a is a.a00 A and breaker i adds i mA (register counts of 1 mA).
int registerValue(int address, int breaker) { return address * 1100 + breaker; }

std::string formatTime(std::time_t time, const char* format) {
    std::tm local{};
    localtime_r(&time, &local);
    char text[32];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

class FaultSoak : public ::testing::Test {
protected:
    void SetUp() override {
        useTestOdbcEnvironment();
        std::string why;
        const auto pg = testDataSource("PostgreSQL", &why);
        if (!pg) GTEST_SKIP() << why;
        source = *pg;
        char pattern[] = "/tmp/quorna-soak-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        fs::create_directories(dir + "/state");
        fs::create_directories(dir + "/logs");
        std::string columns = "Meter INTEGER, Date_Time TIMESTAMP";
        for (int n = 1; n <= 42; ++n) columns += ", Amps" + std::to_string(n) + " FLOAT";
        (void)execSql(source, "DROP TABLE IF EXISTS soak_readings");
        ASSERT_TRUE(execSql(source, "CREATE TABLE soak_readings (" + columns + ")"));
        sim = std::make_unique<MeterSimulator>(
            std::vector<std::string>{"--meter", "1:230", "--meter", "2:230", "--meter", "3:230"});
        for (int a = 1; a <= 3; ++a) {
            std::vector<int> values;
            for (int i = 0; i < 42; ++i) values.push_back(registerValue(a, i));
            sim->set(a, 0, values);
        }
        sim->useAsComPort(1);
    }
    void TearDown() override {
        if (core > 0) {
            ::kill(core, SIGKILL);
            ::waitpid(core, nullptr, 0);
        }
        if (serverStopped) bringDatabaseBack(source);
        sim.reset();
        std::error_code ignored;
        if (!dir.empty()) fs::remove_all(dir, ignored);
    }

    // Starts the core; killAtCommit > 0 makes it kill itself after that commit of its spool.
    void startCore(int killAtCommit = 0) {
        core = ::fork();
        if (core == 0) {
            if (killAtCommit > 0) ::setenv("QUORNA_SOAK_KILL_AT_COMMIT", std::to_string(killAtCommit).c_str(), 1);
            const std::string core = QUORNA_SOAK_CORE_PATH;
            const std::string base = std::to_string(baseTime);
            const std::string wall = std::to_string(wallStart);
            const std::string state = dir + "/state";
            const std::string log = dir + "/logs/plant.csv";
            const std::string witness = dir + "/witness.txt";
            ::execl(core.c_str(), core.c_str(), state.c_str(), log.c_str(), source.dsn.c_str(), source.user.c_str(),
                    source.password.c_str(), "soak_readings", base.c_str(), wall.c_str(), witness.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    void killCore() {
        ::kill(core, SIGKILL);
        ::waitpid(core, nullptr, 0);
        core = -1;
        ++kills;
    }
    // The end of a core that was to kill itself at a commit (killed now if it has not).
    void reapSelfKilled() {
        int status = 0;
        if (::waitpid(core, &status, WNOHANG) == core) {
            core = -1;
            ++kills;
            ++selfKills;
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
            return;
        }
        killCore();
    }
    void stopCore() {
        ::kill(core, SIGTERM);
        int status = 0;
        ASSERT_EQ(::waitpid(core, &status, 0), core);
        core = -1;
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }

    // Checks the file (its parts in order, a rotated one first) and the table against what the core
    // witnessed: every witnessed moment's lines once, in time order, with the meters' values; every
    // line's row in the table, doubled for at most one moment per kill.
    void checkOutcome(const char* name, int seconds, const std::vector<std::string>& logFiles, std::size_t minMoments);

    TestDataSource source;
    std::string dir;
    std::unique_ptr<MeterSimulator> sim;
    pid_t core = -1;
    bool serverStopped = false;
    int kills = 0;
    int selfKills = 0;
    std::time_t baseTime = 0;
    std::time_t wallStart = 0;
};

TEST_F(FaultSoak, EveryWitnessedReadingReachesTheFileOnceAndTheTableAtLeastOnce) {
    // Logging moments fall on whole minutes of the test's clock.
    wallStart = std::time(nullptr);
    baseTime = 1765000000 - 1765000000 % 3600;
    startCore();
    const std::string logs = dir + "/logs";
    for (int second = 1; second <= kSeconds; ++second) {
        std::this_thread::sleep_until(std::chrono::system_clock::from_time_t(wallStart + second));
        switch (second) {
            case 8: sim->fault(2, "silent"); break;
            case 13: sim->fault(2, "none"); sim->fault(3, "badcrc"); break;
            case 18: sim->fault(3, "split"); break;
            case 23: sim->fault(3, "none"); break;
            case 28: case 78: fs::rename(logs, dir + "/logs-away"); break;
            case 34: case 84: fs::rename(dir + "/logs-away", logs); break;
            case 40: case 90:
                takeDatabaseAway(source);
                serverStopped = true;
                break;
            case 50: case 100:
                bringDatabaseBack(source);
                serverStopped = false;
                break;
            case 45: case 95: killCore(); break;
            case 47: case 97: startCore(); break;
            default: break;
        }
    }
    stopCore();
    checkOutcome("fault soak", kSeconds, {logs + "/plant.csv"}, 90U);
    EXPECT_EQ(kills, 2);
}

void FaultSoak::checkOutcome(const char* name, int seconds, const std::vector<std::string>& logFiles,
                             std::size_t minMoments) {

    // What the core saw: the good reads of each moment it finished.
    std::map<std::time_t, int> witnessed;
    {
        std::ifstream in(dir + "/witness.txt");
        long long time = 0;
        int good = 0;
        while (in >> time >> good) witnessed[static_cast<std::time_t>(time)] = good;
    }
    int witnessedRecords = 0;
    for (const auto& [time, good] : witnessed) witnessedRecords += good;

    // The file: time order, no (time, meter) twice, each line the meter's values.
    std::string line;
    std::vector<std::string> lines;
    for (const std::string& file : logFiles) {
        std::ifstream in(file, std::ios::binary);
        while (std::getline(in, line)) lines.push_back(line);
    }
    std::map<std::string, int> fileLines;  // "time meter" -> count
    std::map<std::string, int> linesPerTime;
    std::string previous;
    for (const std::string& l : lines) {
        ASSERT_GE(l.size(), 22U) << l;
        ASSERT_EQ(l.find('\0'), std::string::npos) << "a NUL byte in the file";
        ASSERT_EQ(l.back(), '\r') << "every line ends in CR LF";
        const std::string stamp = l.substr(0, 19);
        const int meter = std::stoi(l.substr(20, 1));
        EXPECT_GE(stamp, previous) << "time order";
        previous = stamp;
        std::ostringstream expected;
        expected << stamp << ',' << meter;
        for (int i = 0; i < 42; ++i) {
            char value[16];
            std::snprintf(value, sizeof value, ",%.3f", registerValue(meter, i) * 0.001);
            expected << value;
        }
        EXPECT_EQ(l, expected.str() + "\r");
        ++fileLines[stamp + " " + std::to_string(meter)];
        ++linesPerTime[stamp];
    }
    int doubledInFile = 0;
    for (const auto& [key, n] : fileLines) doubledInFile += n - 1;
    EXPECT_EQ(doubledInFile, 0);
    int lostFromFile = 0;
    for (const auto& [time, good] : witnessed) {
        const auto found = linesPerTime.find(formatTime(time, "%m/%d/%Y %H:%M:%S"));
        const int n = found == linesPerTime.end() ? 0 : found->second;
        if (n != good) ++lostFromFile;
        EXPECT_EQ(n, good) << formatTime(time, "%H:%M");
    }

    // The table: every line of the file, doubled only for a moment a kill cut short.
    const auto rows = querySql(source, "SELECT Meter, Date_Time FROM soak_readings", 2);
    std::map<std::string, int> tableRows;
    for (const auto& row : rows) {
        const std::string iso = row[1].substr(0, 19);  // YYYY-MM-DD HH:MM:SS
        const std::string stamp = iso.substr(5, 2) + "/" + iso.substr(8, 2) + "/" + iso.substr(0, 4) + " " + iso.substr(11);
        ++tableRows[stamp + " " + row[0]];
    }
    int lostFromTable = 0;
    std::set<std::string> doubledMoments;
    int doubledRows = 0;
    for (const auto& [key, n] : fileLines) {
        const int inTable = tableRows.count(key) ? tableRows[key] : 0;
        if (inTable == 0) ++lostFromTable;
        if (inTable > 1) {
            doubledMoments.insert(key.substr(0, 19));
            doubledRows += inTable - 1;
        }
    }
    for (const auto& [key, n] : tableRows) EXPECT_TRUE(fileLines.count(key)) << "a row without its line: " << key;
    EXPECT_EQ(lostFromTable, 0);
    EXPECT_LE(doubledMoments.size(), static_cast<std::size_t>(kills));

    const bool clean = lostFromFile == 0 && lostFromTable == 0 && doubledInFile == 0;
    std::printf("%s: %d s, %zu moments witnessed, %d records witnessed, %zu lines in the file, %zu rows in "
                "the table, %d kills, lost %d, doubled in the file %d, doubled in the table %d rows (%zu moments)%s\n",
                name, seconds, witnessed.size(), witnessedRecords, lines.size(), rows.size(), kills,
                lostFromFile + lostFromTable, doubledInFile, doubledRows, doubledMoments.size(), clean ? "" : " FAULTY");
    EXPECT_GE(witnessed.size(), minMoments) << "a moment took longer than a second too often";
}

TEST_F(FaultSoak, KillsBetweenTheSpoolsCommitsAFolderAwayARotationAndAGarbledSpoolLoseAndDoubleNoLine) {
    constexpr int kSpoolSeconds = 60;
    wallStart = std::time(nullptr);
    baseTime = 1765000000 - 1765000000 % 3600;
    const std::string logs = dir + "/logs";
    const std::string spool = dir + "/state/Quorna-spool.db";
    startCore();
    for (int second = 1; second <= kSpoolSeconds; ++second) {
        std::this_thread::sleep_until(std::chrono::system_clock::from_time_t(wallStart + second));
        switch (second) {
            // After the moment's records went in; after the note of an append; after its end;
            // after a database moment's end.
            case 5: killCore(); startCore(1); break;
            case 8: reapSelfKilled(); startCore(2); break;
            // The log folder is away when the core comes back with its note.
            case 11: reapSelfKilled(); fs::rename(logs, dir + "/logs-away"); startCore(); break;
            case 16: fs::rename(dir + "/logs-away", logs); break;
            case 20: killCore(); startCore(3); break;
            case 23: reapSelfKilled(); startCore(4); break;
            // The log is rotated between a kill and the restart: a new, empty file takes its name.
            case 26: reapSelfKilled(); startCore(2); break;
            case 29:
                reapSelfKilled();
                fs::rename(logs + "/plant.csv", logs + "/plant.csv.1");
                { std::ofstream(logs + "/plant.csv", std::ios::binary); }
                startCore();
                break;
            // A clean stop, the spool overwritten with garbage, a restart on it.
            case 40:
                stopCore();
                { std::ofstream(spool, std::ios::binary | std::ios::trunc) << std::string(20000, 'G'); }
                startCore();
                break;
            default: break;
        }
    }
    stopCore();
    std::size_t damaged = 0;
    for (const auto& entry : fs::directory_iterator(dir + "/state"))
        if (entry.path().filename().string().rfind("Quorna-spool.db.damaged-", 0) == 0 &&
            entry.path().filename().string().find("-wal") == std::string::npos &&
            entry.path().filename().string().find("-shm") == std::string::npos)
            ++damaged;
    EXPECT_EQ(damaged, 1U) << "the garbled spool was moved aside";
    checkOutcome("spool fault soak", kSpoolSeconds, {logs + "/plant.csv.1", logs + "/plant.csv"}, 40U);
    EXPECT_EQ(kills, 7);
    EXPECT_GE(selfKills, 5) << "the cores killed themselves at their commits";
}

}  // namespace
}  // namespace quorna::test
