// The simulator as the tests drive it: request log, control commands, scenario files,
// start-up output and a clean exit.
#include "metersim_harness.h"
#include "program_run.h"
#include "raw_line_client.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quorna::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.rfind(prefix, 0) == 0;
}

TEST(MeterSimulatorLog, RecordsEveryFrameOnTheBusUntilCleared)
{
    MeterSimulator sim({"--meter", "3:230"});
    RawLine line(sim.device());
    const Frame poll = readRequest(3, 0, 49);
    const Frame write = writeRequest(3, 268, 75);
    const Frame stranger = readRequest(9, 0, 1);
    Frame damaged = writeRequest(3, 267, 30);
    damaged[7] ^= 0xFF;

    (void)line.transact(poll);
    (void)line.transact(write);
    line.send(stranger);
    (void)line.receive(100ms, 200ms);
    line.send(damaged);
    (void)line.receive(100ms, 200ms);

    const auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].bytes, poll);
    EXPECT_EQ(requests[1].bytes, write);
    EXPECT_EQ(requests[2].bytes, stranger);
    EXPECT_EQ(requests[3].bytes, damaged);
    for (std::size_t i = 1; i < requests.size(); ++i)
        EXPECT_GT(requests[i].time, requests[i - 1].time);
    EXPECT_GT(requests[1].time - requests[0].time, 0.1) << "the poll's answer took its time";

    const auto writes = sim.writes();
    ASSERT_EQ(writes.size(), 1u) << "only intact function-6 requests are writes";
    EXPECT_EQ(writes[0].address, 3);
    EXPECT_EQ(writes[0].reg, 268);
    EXPECT_EQ(writes[0].value, 75);

    sim.clearRequests();
    EXPECT_TRUE(sim.requests().empty());
    EXPECT_TRUE(sim.writes().empty());
    line.send(slaveIdRequest(3));
    EXPECT_EQ(sim.requests().size(), 1u) << "a request is logged as soon as it is read";
    (void)line.receive();
    ASSERT_EQ(sim.requests().size(), 1u);
    EXPECT_EQ(sim.requests()[0].bytes, slaveIdRequest(3));

    // The log file itself: seconds with six decimals, then upper-case hex pairs.
    std::ifstream log(sim.tempDir() + "/requests.log");
    std::string first;
    std::getline(log, first);
    const auto blank = first.find(' ');
    ASSERT_NE(blank, std::string::npos);
    EXPECT_EQ(blank - first.find('.'), 7u) << first;
    EXPECT_EQ(first.substr(blank + 1), "03 03 00 00 00 31 85 FC");
}

TEST(MeterSimulatorControl, CommandsChangeMetersAndRefuseNonsense)
{
    MeterSimulator sim({"--meter", "3:230"});
    RawLine line(sim.device());

    EXPECT_EQ(sim.command("meter 12 236"), "ok");
    EXPECT_EQ(line.transact(readRequest(12, 29, 1)).size(), 7u);
    EXPECT_EQ(sim.command("name 12 AB"), "ok");
    EXPECT_EQ(sim.command("name2 12 PNL1"), "ok");
    EXPECT_EQ(sim.get(12, 38, 4), (std::vector<int>{0x4142, 0, 0x504E, 0x4C31}));
    EXPECT_EQ(sim.command("setf 12 30 1.5"), "ok");
    EXPECT_EQ(sim.get(12, 30, 2), (std::vector<int>{0x3FC0, 0}));
    EXPECT_EQ(sim.command("set 12 72 0x8001"), "ok");
    EXPECT_EQ(sim.get(12, 72, 1), std::vector<int>{0x8001});
    EXPECT_EQ(sim.command("text 12 Tamsa Something Else"), "ok");
    EXPECT_EQ(sim.command("slaveid 12 99"), "ok");
    const Frame id = line.transact(slaveIdRequest(12));
    ASSERT_GE(id.size(), 7u);
    EXPECT_EQ(id[3], 99);
    EXPECT_EQ(std::string(id.begin() + 5, id.end() - 2), "Tamsa Something Else");

    EXPECT_EQ(sim.command("remove 12"), "ok");
    line.send(readRequest(12, 29, 1));
    EXPECT_TRUE(line.receive(100ms, 300ms).empty());

    for (const char* bad : {"get 12 0 1", "set 3 275 1", "set 3 0 70000", "meter 4 999", "meter 0 230",
                            "name 3 TOOLONG", "name2 3 AB", "drift 3 sideways", "get 3 0", "launch 3",
                            "text 3 0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890"}) {
        SCOPED_TRACE(bad);
        EXPECT_TRUE(startsWith(sim.command(bad), "err "));
    }
    EXPECT_EQ(sim.command("# a comment"), "ok");
    EXPECT_EQ(sim.command("ping"), "ok");
}

TEST(MeterSimulatorScenario, ScenarioFileSetsUpTheBus)
{
    const fs::path scenario = fs::temp_directory_path() / ("quorna-scenario-" + std::to_string(getpid()) + ".txt");
    {
        std::ofstream file(scenario);
        file << "# two meters, one of them unwell\n"
                "\n"
                "meter 5 230\n"
                "meter 6 235\n"
                "set 5 0 11111 22222\n"
                "name 5 EAST\n"
                "text 6 Tamsa Circuit Meter 8, Rev C\n"
                "fault 6 silent\n"
                "drift all off\n";
    }
    {
        MeterSimulator sim({"--scenario", scenario.string(), "--drift", "on"});
        RawLine line(sim.device());
        EXPECT_EQ(answerValues(line.transact(readRequest(5, 0, 2))), (std::vector<int>{11111, 22222}));
        EXPECT_EQ(sim.get(5, 273, 2), (std::vector<int>{0x4541, 0x5354}));
        line.send(slaveIdRequest(6));
        EXPECT_TRUE(line.receive(100ms, 500ms).empty());
        EXPECT_EQ(sim.command("fault 6 none"), "ok");
        const Frame id = line.transact(slaveIdRequest(6));
        ASSERT_GE(id.size(), 7u);
        EXPECT_EQ(std::string(id.begin() + 5, id.end() - 2), "Tamsa Circuit Meter 8, Rev C");
        const auto frozen = sim.get(5, 2, 40);
        std::this_thread::sleep_for(700ms);
        EXPECT_EQ(sim.get(5, 2, 40), frozen) << "the scenario switched drift off";
    }
    {
        std::ofstream file(scenario);
        file << "meter 5 230\nset 5 9999 1\n";
    }
    EXPECT_THROW(MeterSimulator({"--scenario", scenario.string()}), std::runtime_error);
    fs::remove(scenario);
}

TEST(MeterSimulatorStartup, PrintsTheLineAndLinksIt)
{
    std::string tempDir;
    {
        MeterSimulator sim({"--meter", "3:230"});
        tempDir = sim.tempDir();
        std::ifstream out(sim.tempDir() + "/metersim.out");
        std::string firstLine;
        std::getline(out, firstLine);
        EXPECT_TRUE(startsWith(firstLine, "/dev/pts/")) << firstLine;
        EXPECT_EQ(fs::read_symlink(sim.device()).string(), firstLine);
        sim.useAsComPort(2);
        EXPECT_EQ(std::string(getenv("QUORNA_COM2")), sim.device());
    }
    EXPECT_FALSE(fs::exists(tempDir)) << "the harness removes its directory";
    EXPECT_THROW(MeterSimulator({"--meter", "3:999"}), std::runtime_error);
}

TEST(MeterSimulatorStartup, CommandLineVersionValuesAfterEqualsAndOneLineErrors)
{
    const ProgramRun version = runProgram(QUORNA_METERSIM_PATH, {"--version"});
    EXPECT_EQ(version.code, 0) << version.err;
    EXPECT_EQ(version.out, "quorna-metersim " QUORNA_VERSION "\n");

    const std::string tryHelp = "Try 'quorna-metersim --help' for more information.\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--meter", "3:230", "--colour"}, "unknown option --colour"},
        {{"--meter", "3:230", "--colour=red"}, "unknown option --colour"},
        {{"--meter", "3:230", "--tcp"}, "missing value after --tcp"},
        {{"--meter", "3:230", "--check-line=yes"}, "--check-line takes no value"},
        {{"--meter=3:999"}, "unknown meter model 999"},
        {{"--baud=9600", "--link", "/nonexistent/tty"}, "no meter: give at least one --meter ADDR:MODEL"},
        {{}, "no meter: give at least one --meter ADDR:MODEL"},
    };
    for (const auto& [args, why] : refused) {
        const ProgramRun run = runProgram(QUORNA_METERSIM_PATH, args, {}, 5000);
        EXPECT_EQ(run.code, 2) << why;
        EXPECT_EQ(run.err, "quorna-metersim: " + why + "\n" + tryHelp);
        EXPECT_EQ(run.out, "") << "no line, no usage: " << why;
    }

    // Values after '=' are taken as the next argument is.
    MeterSimulator sim({"--meter=3:230", "--meter=7:236", "--baud=19200", "--check-line"});
    RawLine line(sim.device(), 19200);
    EXPECT_EQ(line.transact(readRequest(3, 51, 1)).size(), 7u);
    EXPECT_EQ(line.transact(readRequest(7, 51, 1)).size(), 7u);
}

// Runs the simulator without the harness, to see how it ends on a signal.
void expectCleanExitOn(int signal)
{
    const fs::path dir = fs::temp_directory_path() / ("quorna-exit-" + std::to_string(getpid()) + "-" + std::to_string(signal));
    fs::create_directories(dir);
    const std::string link = (dir / "tty").string();
    const std::string control = (dir / "control").string();
    fs::create_symlink("/nonexistent", link);  // a stale link from an earlier run is replaced

    std::vector<std::string> args = {QUORNA_METERSIM_PATH, "--link", link, "--control", control, "--meter", "3:230"};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    for (int i = 0; i < 500 && !(fs::exists(control) && fs::exists(link)); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(fs::exists(link)) << "the link points at the live pseudo-terminal";
    {
        RawLine line(link);
        EXPECT_EQ(line.transact(readRequest(3, 51, 1)).size(), 7u);
    }

    kill(pid, signal);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_FALSE(fs::exists(control));
    fs::remove_all(dir);
}

TEST(MeterSimulatorShutdown, ExitsCleanlyOnSigtermAndSigint)
{
    expectCleanExitOn(SIGTERM);
    expectCleanExitOn(SIGINT);
}

}  // namespace
}  // namespace quorna::test
