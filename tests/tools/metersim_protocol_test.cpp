// The simulated meters over a real pseudo-terminal: reads, writes, slave IDs, exceptions,
// framing and the register rules the meters apply themselves.
#include "metersim_harness.h"
#include "raw_line_client.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace quorna::test {
namespace {

using namespace std::chrono_literals;

constexpr int kBranch = 3;
constexpr int kCircuit6 = 7;
constexpr int kCircuit8 = 8;
constexpr int kTemperature = 20;
constexpr int kEnergyOnly = 21;
constexpr int kFullData = 22;

// The program's recogniser of device texts, as the meters must satisfy it.
int modelFromText(const std::string& text)
{
    auto has = [&](const char* part) { return text.find(part) != std::string::npos; };
    if (!has("Tamsa")) return 0;
    if (has("Energy-Only")) return 8035;
    if (has("Temperature")) return 600;
    if (has("Full-Data")) return 8036;
    if (has("Branch")) return 230;
    if (has("Circuit") && has("Meter 6,")) return 236;
    if (has("Circuit") && has("Meter 8,")) return 235;
    return 0;
}

class SimulatedMeters : public ::testing::Test {
protected:
    MeterSimulator m_sim{{"--meter", "3:230", "--meter", "7:236", "--meter", "8:235", "--meter", "20:600",
                          "--meter", "21:8035", "--meter", "22:8036"}};
    RawLine m_line{m_sim.device()};
};

TEST_F(SimulatedMeters, BranchPollBlockCarriesStoredValues)
{
    std::vector<int> currents;
    for (int i = 0; i < 42; ++i)
        currents.push_back(1000 + 37 * i);
    m_sim.set(kBranch, 0, currents);
    m_sim.set(kBranch, 42, {0x09, 0x0001, 0, 0, 0x0001, 0, 0});

    const Frame answer = m_line.transact(readRequest(kBranch, 0, 49));

    ASSERT_EQ(answer.size(), 103u);
    EXPECT_TRUE(crcIntact(answer));
    EXPECT_EQ(answer[0], kBranch);
    EXPECT_EQ(answer[1], 3);
    EXPECT_EQ(answer[2], 98);
    std::vector<int> expected = currents;
    expected.insert(expected.end(), {0x09, 0x0001, 0, 0, 0x0001, 0, 0});
    EXPECT_EQ(answerValues(answer), expected);
}

TEST_F(SimulatedMeters, WriteIsEchoedAndTakesEffect)
{
    const Frame request = writeRequest(kBranch, 141, 85);
    EXPECT_EQ(m_line.transact(request), request);
    EXPECT_EQ(m_sim.get(kBranch, 141, 1), std::vector<int>{85});

    const Frame nameWrite = writeRequest(kCircuit6, 40, 0x504E);
    EXPECT_EQ(m_line.transact(nameWrite), nameWrite);
    EXPECT_EQ(answerValues(m_line.transact(readRequest(kCircuit6, 40, 1))), std::vector<int>{0x504E});
}

TEST_F(SimulatedMeters, ReportSlaveIdNamesEachModel)
{
    struct Case {
        int address;
        int model;
    };
    for (const Case& c : {Case{kBranch, 230}, Case{kCircuit6, 236}, Case{kCircuit8, 235}, Case{kTemperature, 600},
                          Case{kEnergyOnly, 8035}, Case{kFullData, 8036}}) {
        SCOPED_TRACE("model " + std::to_string(c.model));
        const Frame answer = m_line.transact(slaveIdRequest(c.address));
        ASSERT_GE(answer.size(), 7u);
        EXPECT_TRUE(crcIntact(answer));
        EXPECT_EQ(answer[0], c.address);
        EXPECT_EQ(answer[1], 17);
        EXPECT_EQ(answer[2], answer.size() - 5);
        EXPECT_EQ(answer[4], 0xFF);
        const std::string text(answer.begin() + 5, answer.end() - 2);
        EXPECT_LE(text.size(), 90u);
        EXPECT_EQ(modelFromText(text), c.model) << text;
        if (c.model == 230 || c.model == 235 || c.model == 236)
            EXPECT_EQ(answer[3], c.model);
        else
            EXPECT_TRUE(answer[3] != 230 && answer[3] != 235 && answer[3] != 236) << int(answer[3]);
    }
}

TEST_F(SimulatedMeters, RegistersNotHeldGiveIllegalAddress)
{
    EXPECT_EQ(m_line.transact(readRequest(kBranch, 275, 1)), withCrc({kBranch, 0x83, 2}));
    EXPECT_EQ(m_line.transact(readRequest(kCircuit6, 74, 1)), withCrc({kCircuit6, 0x83, 2}));
    EXPECT_EQ(m_line.transact(readRequest(kCircuit6, 51, 42)), withCrc({kCircuit6, 0x83, 2}));  // runs past 73
    EXPECT_EQ(m_line.transact(readRequest(kTemperature, 258, 2)), withCrc({kTemperature, 0x83, 2}));
    EXPECT_EQ(m_line.transact(writeRequest(kBranch, 300, 1)), withCrc({kBranch, 0x86, 2}));
    EXPECT_EQ(m_line.transact(readRequest(kBranch, 0, 126)), withCrc({kBranch, 0x83, 3}));

    // What each model does hold for the program's block reads.
    EXPECT_EQ(answerValues(m_line.transact(readRequest(kCircuit6, 219, 42))).size(), 42u);
    EXPECT_EQ(answerValues(m_line.transact(readRequest(kCircuit6, 0, 37))).size(), 37u);
    EXPECT_EQ(answerValues(m_line.transact(readRequest(kBranch, 261, 14))).size(), 14u);
    EXPECT_EQ(answerValues(m_line.transact(readRequest(kTemperature, 256, 2))).size(), 2u);
    EXPECT_EQ(answerValues(m_line.transact(readRequest(kEnergyOnly, 258, 4))).size(), 4u);
    EXPECT_EQ(answerValues(m_line.transact(readRequest(kFullData, 258, 52))).size(), 52u);
    EXPECT_EQ(answerValues(m_line.transact(readRequest(kFullData, 42, 2))).size(), 2u);
}

TEST_F(SimulatedMeters, NoAnswerToOtherAddressesBroadcastOrDamagedFrames)
{
    m_line.send(readRequest(9, 0, 1));
    EXPECT_TRUE(m_line.receive(150ms, 300ms).empty()) << "address 9 has no meter";
    m_line.send(writeRequest(0, 267, 30));
    EXPECT_TRUE(m_line.receive(150ms, 300ms).empty()) << "broadcast";
    Frame damaged = readRequest(kBranch, 0, 1);
    damaged[5] ^= 0x01;
    m_line.send(damaged);
    EXPECT_TRUE(m_line.receive(150ms, 300ms).empty()) << "bad CRC";

    EXPECT_EQ(answerValues(m_line.transact(readRequest(kBranch, 51, 1))), std::vector<int>{20});
}

TEST_F(SimulatedMeters, GarbageIsDroppedAtTheNextSilence)
{
    // Garbage glued to a request spoils it; after a silence the next request is understood.
    Frame glued = {0x12, 0x34};
    const Frame request = readRequest(kBranch, 49, 2);
    glued.insert(glued.end(), request.begin(), request.end());
    m_line.send(glued);
    EXPECT_TRUE(m_line.receive(150ms, 300ms).empty());

    m_line.send({kBranch, 3, 0});  // a truncated request
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(answerValues(m_line.transact(request)), (std::vector<int>{3, 12}));
}

TEST_F(SimulatedMeters, BranchGlobalSettingsFanOutToEveryBreaker)
{
    const Frame rating = writeRequest(kBranch, 267, 40);
    EXPECT_EQ(m_line.transact(rating), rating);
    EXPECT_EQ(m_sim.get(kBranch, 51, 42), std::vector<int>(42, 40));

    EXPECT_EQ(m_line.transact(writeRequest(kBranch, 269, 85)), writeRequest(kBranch, 269, 85));
    EXPECT_EQ(m_sim.get(kBranch, 135, 42), std::vector<int>(42, 85));
    EXPECT_EQ(m_sim.get(kBranch, 93, 42), std::vector<int>(42, 70)) << "warning levels untouched";
}

TEST_F(SimulatedMeters, MeterSelectionLockSurvivesWrites)
{
    m_sim.set(kCircuit6, 72, {0x8007});
    const Frame request = writeRequest(kCircuit6, 72, 0x0003);
    EXPECT_EQ(m_line.transact(request), request);
    EXPECT_EQ(m_sim.get(kCircuit6, 72, 1), std::vector<int>{0x8003});

    m_sim.set(kCircuit6, 72, {0x0001});
    EXPECT_EQ(m_line.transact(writeRequest(kCircuit6, 72, 0x8001)), writeRequest(kCircuit6, 72, 0x8001));
    EXPECT_EQ(m_sim.get(kCircuit6, 72, 1), std::vector<int>{0x0001});
}

TEST_F(SimulatedMeters, StatusSummaryFollowsStatusRegisters)
{
    m_sim.set(kBranch, 43, {0x0005});
    m_sim.set(kBranch, 48, {0x0200});
    EXPECT_EQ(m_sim.get(kBranch, 42, 1), std::vector<int>{0x21});

    for (int reg = 43; reg <= 48; ++reg)
        EXPECT_EQ(m_line.transact(writeRequest(kBranch, reg, 0)), writeRequest(kBranch, reg, 0));
    EXPECT_EQ(m_sim.get(kBranch, 42, 7), std::vector<int>(7, 0));
}

TEST_F(SimulatedMeters, DefaultsAreRealistic)
{
    EXPECT_EQ(m_sim.get(kBranch, 273, 2), (std::vector<int>{('P' << 8) | 'N', ('L' << 8) | '1'}));
    EXPECT_EQ(m_sim.get(kBranch, 51, 1), std::vector<int>{20});
    EXPECT_EQ(m_sim.get(kBranch, 93, 1), std::vector<int>{70});
    EXPECT_EQ(m_sim.get(kBranch, 135, 1), std::vector<int>{80});
    for (int current : m_sim.get(kBranch, 0, 42)) {
        EXPECT_GE(current, 1000);
        EXPECT_LT(current, 14000) << "no breaker starts in alarm";
    }
    EXPECT_EQ(m_sim.get(kBranch, 42, 1), std::vector<int>{0});

    const auto circuit = m_sim.get(kCircuit6, 0, 74);
    ASSERT_EQ(circuit.size(), 74u);
    EXPECT_GE(circuit[29], 1);
    EXPECT_LE(circuit[29], 5999);
    EXPECT_NEAR(circuit[7], 12000, 500);  // L-N volts × 0.01
    EXPECT_NEAR(circuit[6], 20800, 800);  // L-L volts
    EXPECT_GT(circuit[22], 0);
    EXPECT_EQ(circuit[72] & 1, 1);
    EXPECT_EQ(circuit[36], 0);
}

TEST(MeterSimulatorDrift, CurrentsDriftAndAlarmBitsFollowThem)
{
    MeterSimulator sim({"--meter", "3:230", "--drift", "on", "--seed", "7"});
    // Rating 20 A, warning 70 %, alarm 80 %: 17 A is red (and yellow), 15 A yellow only.
    sim.set(3, 0, {17000, 15000});
    const auto before = sim.get(3, 2, 40);
    std::this_thread::sleep_for(1300ms);

    EXPECT_NE(sim.get(3, 2, 40), before);
    const auto status = sim.get(3, 42, 7);
    ASSERT_EQ(status.size(), 7u);
    EXPECT_EQ(status[1] & 0x3, 0x3);
    EXPECT_EQ(status[4] & 0x3, 0x1);
    EXPECT_EQ(status[0] & 0x09, 0x09);

    EXPECT_EQ(sim.command("drift 3 off"), "ok");
    std::this_thread::sleep_for(100ms);
    const auto frozen = sim.get(3, 0, 49);
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(sim.get(3, 0, 49), frozen);
}

}  // namespace
}  // namespace quorna::test
