// Faults the simulated meters can be told to show, and the timing of their answers.
#include "metersim_harness.h"
#include "raw_line_client.h"

#include <gtest/gtest.h>

namespace quorna::test {
namespace {

using namespace std::chrono_literals;

constexpr int kMeter = 3;
constexpr int kOther = 7;
constexpr double kCharacterTimeAt9600 = 10.0 / 9600.0;
constexpr double kTurnaround = 0.005;

class FaultyMeters : public ::testing::Test {
protected:
    MeterSimulator m_sim{{"--meter", "3:230", "--meter", "7:236"}};
    RawLine m_line{m_sim.device()};
    const Frame m_poll = readRequest(kMeter, 0, 49);

    Frame goodAnswer()
    {
        m_sim.fault(kMeter, "none");
        return m_line.transact(m_poll);
    }
};

TEST_F(FaultyMeters, SilentMeterSendsNothingAndIgnoresWrites)
{
    m_sim.fault(kMeter, "silent");
    m_line.send(m_poll);
    EXPECT_TRUE(m_line.receive(200ms, 1000ms).empty());
    m_line.send(writeRequest(kMeter, 267, 45));
    EXPECT_TRUE(m_line.receive(200ms, 1000ms).empty());
    EXPECT_EQ(m_sim.get(kMeter, 51, 1), std::vector<int>{20});
    EXPECT_EQ(m_sim.requests().size(), 2u) << "the requests were on the bus all the same";

    EXPECT_EQ(m_line.transact(slaveIdRequest(kOther)).size(), 35u) << "other meters still answer";
    EXPECT_EQ(goodAnswer().size(), 103u) << "fault none clears";
}

TEST_F(FaultyMeters, BadCrcSpoilsOnlyTheCrc)
{
    const Frame good = goodAnswer();
    m_sim.fault(kMeter, "badcrc");
    const Frame bad = m_line.transact(m_poll);
    ASSERT_EQ(bad.size(), good.size());
    EXPECT_FALSE(crcIntact(bad));
    EXPECT_TRUE(std::equal(good.begin(), good.end() - 2, bad.begin()));
}

TEST_F(FaultyMeters, WrongAddressAnswersWithAValidCrc)
{
    const Frame good = goodAnswer();
    m_sim.fault(kMeter, "wrongaddr");
    const Frame wrong = m_line.transact(m_poll);
    ASSERT_EQ(wrong.size(), good.size());
    EXPECT_TRUE(crcIntact(wrong));
    EXPECT_EQ(wrong[0], kMeter + 1);
    EXPECT_TRUE(std::equal(good.begin() + 1, good.end() - 2, wrong.begin() + 1));
}

TEST_F(FaultyMeters, ExceptionFaultAnswersDeviceFailureToEverything)
{
    m_sim.fault(kMeter, "exception");
    EXPECT_EQ(m_line.transact(m_poll), withCrc({kMeter, 0x83, 4}));
    EXPECT_EQ(m_line.transact(writeRequest(kMeter, 267, 45)), withCrc({kMeter, 0x86, 4}));
    EXPECT_EQ(m_line.transact(slaveIdRequest(kMeter)), withCrc({kMeter, 0x91, 4}));
    EXPECT_EQ(m_sim.get(kMeter, 51, 1), std::vector<int>{20}) << "a failing meter carries out no write";
}

TEST_F(FaultyMeters, SplitAnswerComesInTwoBurstsFarApart)
{
    const Frame good = goodAnswer();
    m_sim.fault(kMeter, "split");
    m_line.send(m_poll);
    const Reception reception = m_line.receive(300ms, 1000ms);
    const auto bursts = reception.bursts(0.035);
    ASSERT_EQ(bursts.size(), 2u);
    EXPECT_EQ(bursts[0].size(), good.size() / 2);
    EXPECT_GT(reception.longestGap(), 0.035);
    EXPECT_EQ(reception.bytes(), good);
}

TEST_F(FaultyMeters, TrailingGarbageFollowsACorrectAnswer)
{
    const Frame good = goodAnswer();
    m_sim.fault(kMeter, "trailing");
    Frame answer = m_line.transact(m_poll);
    ASSERT_EQ(answer.size(), good.size() + 2);
    EXPECT_TRUE(std::equal(good.begin(), good.end(), answer.begin()));

    m_sim.fault(kMeter, "trailing 5");
    answer = m_line.transact(m_poll);
    ASSERT_EQ(answer.size(), good.size() + 5);
    EXPECT_TRUE(std::equal(good.begin(), good.end(), answer.begin()));
}

TEST_F(FaultyMeters, DelayHoldsBackAnIntactAnswer)
{
    const Frame good = goodAnswer();
    m_sim.fault(kMeter, "delay 200");
    m_line.send(m_poll);
    const Reception reception = m_line.receive(150ms, 2000ms);
    ASSERT_FALSE(reception.empty());
    EXPECT_GE(reception.firstByte(), 0.200);
    EXPECT_EQ(reception.bytes(), good);
}

TEST_F(FaultyMeters, BadFaultCommandsAreRefused)
{
    EXPECT_EQ(m_sim.command("fault 3 flaky").rfind("err", 0), 0u);
    EXPECT_EQ(m_sim.command("fault 3 delay").rfind("err", 0), 0u);
    EXPECT_EQ(m_sim.command("fault 3 silent 5").rfind("err", 0), 0u);
    EXPECT_EQ(m_sim.command("fault 300 silent").rfind("err", 0), 0u);
}

// Time from the request to the last byte of a 49-register answer (103 bytes).
double pollDuration(const std::vector<std::string>& args, int baud, char parity, double* longestGap = nullptr)
{
    MeterSimulator sim(args);
    RawLine line(sim.device(), baud, parity);
    line.send(readRequest(kMeter, 0, 49));
    const Reception reception = line.receive(300ms, 3000ms);
    EXPECT_EQ(reception.bytes().size(), 103u);
    if (longestGap != nullptr)
        *longestGap = reception.longestGap();
    return reception.empty() ? 0.0 : reception.lastByte();
}

TEST(MeterSimulatorPacing, AnswersTakeTheirTimeOnTheLine)
{
    double gap = 0.0;
    const double at9600 = pollDuration({"--meter", "3:230"}, 9600, 'N', &gap);
    const double model9600 = 103 * kCharacterTimeAt9600 + kTurnaround;
    EXPECT_GE(at9600, 0.8 * model9600);
    EXPECT_LT(gap, 0.035) << "no pause inside an answer may end it early";

    const double at2400 = pollDuration({"--meter", "3:230", "--baud", "2400"}, 2400, 'N');
    EXPECT_GE(at2400, 0.8 * (103 * 10.0 / 2400 + kTurnaround));

    const double withParity = pollDuration({"--meter", "3:230", "--baud", "2400", "--parity", "even"}, 2400, 'E');
    EXPECT_GE(withParity, 0.8 * (103 * 11.0 / 2400 + kTurnaround));

    const double slowTurnaround = pollDuration({"--meter", "3:230", "--turnaround", "100"}, 9600, 'N');
    EXPECT_GE(slowTurnaround, 0.8 * (103 * kCharacterTimeAt9600 + 0.100));
}

TEST(MeterSimulatorLineCheck, RequestsAtAnotherSpeedGoUnanswered)
{
    MeterSimulator sim({"--meter", "3:230", "--check-line"});
    RawLine wrongSpeed(sim.device(), 19200, 'N');
    wrongSpeed.send(readRequest(kMeter, 0, 1));
    EXPECT_TRUE(wrongSpeed.receive(150ms, 300ms).empty());

    RawLine rightSpeed(sim.device(), 9600, 'N');
    EXPECT_EQ(rightSpeed.transact(readRequest(kMeter, 51, 1)).size(), 7u);
}

}  // namespace
}  // namespace quorna::test
