// Interoperability with an independent Modbus master: mbpoll (libmodbus) reads and writes
// the simulated meters.
#include "metersim_harness.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <sstream>
#include <sys/wait.h>

namespace quorna::test {
namespace {

// True when mbpoll printed "[ref]:" followed by one of the accepted values.
bool showsValue(const std::string& output, int ref, std::initializer_list<const char*> accepted) {
    std::istringstream lines(output);
    // Appended piece by piece: "[" + std::string makes GCC 12 warn (-Wrestrict) at -O2.
    std::string label = "[";
    label += std::to_string(ref);
    label += "]:";
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string first, value;
        if (!(words >> first >> value) || first != label) continue;
        for (const char* a : accepted) {
            if (value == a) return true;
        }
    }
    return false;
}


struct CommandRun {
    int status;
    std::string output;
};

CommandRun runCommand(const std::string& command)
{
    CommandRun run{-1, {}};
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return run;
    std::array<char, 512> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe) != nullptr)
        run.output += buffer.data();
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

bool mbpollInstalled()
{
    return runCommand("command -v mbpoll").status == 0;
}

std::string mbpoll(const MeterSimulator& sim, const std::string& options)
{
    return "timeout 20 mbpoll -m rtu -b 9600 -P none -0 -1 " + options + " " + sim.device();
}

TEST(MeterSimulatorMbpoll, ReadsAndWritesHoldingRegisters)
{
    if (!mbpollInstalled())
        GTEST_SKIP() << "mbpoll is not installed (Debian package mbpoll); interoperability not checked";
    MeterSimulator sim({"--meter", "3:230", "--meter", "7:236"});
    sim.set(3, 0, {1234, 0, 65535, 42});

    const CommandRun read = runCommand(mbpoll(sim, "-a 3 -t 4 -r 0 -c 4"));
    ASSERT_EQ(read.status, 0) << read.output;
    EXPECT_TRUE(showsValue(read.output, 0, {"1234"})) << read.output;
    EXPECT_TRUE(showsValue(read.output, 1, {"0"})) << read.output;
    // mbpoll shows 16-bit registers as signed numbers.
    EXPECT_TRUE(showsValue(read.output, 2, {"65535", "-1"})) << read.output;
    EXPECT_TRUE(showsValue(read.output, 3, {"42"})) << read.output;

    const CommandRun write = runCommand(mbpoll(sim, "-a 7 -t 4 -r 30") + " 12345");
    ASSERT_EQ(write.status, 0) << write.output;
    EXPECT_EQ(sim.get(7, 30, 1), std::vector<int>{12345});
    const auto writes = sim.writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].address, 7);
    EXPECT_EQ(writes[0].reg, 30);
    EXPECT_EQ(writes[0].value, 12345);

    const CommandRun id = runCommand(mbpoll(sim, "-a 7 -u"));
    ASSERT_EQ(id.status, 0) << id.output;
    EXPECT_NE(id.output.find("Tamsa Circuit Meter 6,"), std::string::npos) << id.output;

    const CommandRun refused = runCommand(mbpoll(sim, "-a 3 -t 4 -r 300"));
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.output.find("Illegal data address"), std::string::npos) << refused.output;
}

// mbpoll as a Modbus TCP client reads and writes the meters through the simulator's gateway;
// the meters receive the RTU frames a gateway puts on its line.
TEST(MeterSimulatorMbpoll, ReadsAndWritesThroughTheModbusTcpGateway)
{
    if (!mbpollInstalled())
        GTEST_SKIP() << "mbpoll is not installed (Debian package mbpoll); interoperability not checked";
    MeterSimulator sim({"--meter", "3:230", "--meter", "7:236", "--tcp", "0"});
    const std::string name = sim.gatewayName("tcp://");
    ASSERT_EQ(name.rfind("tcp://127.0.0.1:", 0), 0u) << name;
    const std::string tcp = "timeout 20 mbpoll -m tcp -p " + name.substr(name.rfind(':') + 1) + " -0 -1 ";
    sim.set(3, 0, {1234, 0, 65535, 42});

    const CommandRun read = runCommand(tcp + "-a 3 -t 4 -r 0 -c 4 127.0.0.1");
    ASSERT_EQ(read.status, 0) << read.output;
    EXPECT_TRUE(showsValue(read.output, 0, {"1234"})) << read.output;
    EXPECT_TRUE(showsValue(read.output, 2, {"65535", "-1"})) << read.output;
    EXPECT_TRUE(showsValue(read.output, 3, {"42"})) << read.output;

    const CommandRun write = runCommand(tcp + "-a 7 -t 4 -r 30 127.0.0.1 12345");
    ASSERT_EQ(write.status, 0) << write.output;
    EXPECT_EQ(sim.get(7, 30, 1), std::vector<int>{12345});
    const auto writes = sim.writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].address, 7);
    EXPECT_EQ(writes[0].reg, 30);

    const CommandRun refused = runCommand(tcp + "-a 3 -t 4 -r 300 127.0.0.1");
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.output.find("Illegal data address"), std::string::npos) << refused.output;
}

}  // namespace
}  // namespace quorna::test
