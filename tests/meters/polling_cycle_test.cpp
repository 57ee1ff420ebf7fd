// The once-a-second poll of the selected meter against simulated meters on a pseudo-terminal.

#include "meters/polling_cycle.h"

#include "meters/main_window_fields.h"
#include "meter_bus_fixture.h"
#include "meters/meter_model.h"
#include "meters/meter_scan.h"
#include "meters/meters.h"
#include "settings/configuration.h"

namespace quorna::test {
namespace {

class PollingCycleTest : public MeterBusTest {
protected:
    // A listed meter as the scan would have left it: directory entry and selection.
    void selectListed(int address, int model) {
        station().meters().recordSlaveId(address, model);
        station().meters().setSelected(SelectedMeter{address, model});
    }
    static MeterLamps redFirstBreaker() {
        MeterLamps lamps;
        lamps.breaker[0] = Lamp::Red;
        return lamps;
    }
    std::vector<int> lampIndexes(Lamp lamp) {
        std::vector<int> breakers;
        for (int i = 0; i < 42; ++i) {
            if (station().meters().fields().breakerLamp[static_cast<std::size_t>(i)] == lamp) breakers.push_back(i + 1);
        }
        return breakers;
    }
};

TEST_F(PollingCycleTest, BranchMeterShowsEveryBreakerCurrentWithThreeDecimalsAndItsName) {
    auto& sim = startBus({"3:230"});
    sim.set(3, 0, std::vector<int>(42, 1500));
    sim.set(3, 42, {0, 0, 0, 0, 0, 0, 0});
    sim.command("name 3 PNL1");
    selectListed(3, kBranchMeter);

    station().PollingCycle();

    for (const auto& text : station().meters().fields().breaker) EXPECT_EQ(text, "1.500");
    EXPECT_EQ(station().meters().fields().firstName, "PNL1");
    EXPECT_EQ(op.transfers, 1);
    EXPECT_TRUE(op.messages.empty());
    EXPECT_EQ(station().meters().consecutiveFailures(), 0);
    // The block read, then the name read.
    const auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(readStartOf(requests[0]), 0);
    EXPECT_EQ(readCountOf(requests[0]), 49);
    EXPECT_EQ(readStartOf(requests[1]), 273);
    EXPECT_EQ(readCountOf(requests[1]), 2);
}

TEST_F(PollingCycleTest, BranchLampsFollowTheSummaryAndStatusRegisters) {
    auto& sim = startBus({"3:230"});
    selectListed(3, kBranchMeter);

    // Summary bit 0 enables register 43: bits 0 and 2 are breakers 1 and 3.
    sim.set(3, 42, {1, 0x0005, 0, 0, 0, 0, 0});
    station().PollingCycle();
    EXPECT_EQ(lampIndexes(Lamp::Yellow), (std::vector<int>{1, 3}));
    EXPECT_TRUE(lampIndexes(Lamp::Red).empty());

    // A breaker marked in both sets ends red.
    sim.set(3, 42, {0x09, 1, 0, 0, 1, 0, 0});
    station().PollingCycle();
    EXPECT_EQ(lampIndexes(Lamp::Red), (std::vector<int>{1}));
    EXPECT_TRUE(lampIndexes(Lamp::Yellow).empty());

    // Bits without their summary bit are ignored.
    sim.set(3, 42, {0, 0xFFFF, 0xFFFF, 0x3FF, 0xFFFF, 0xFFFF, 0x3FF});
    station().PollingCycle();
    EXPECT_EQ(lampIndexes(Lamp::Green).size(), 42U);

    // Register 45 holds breakers 33 to 42: bit 9 is breaker 42.
    sim.set(3, 42, {0x04, 0, 0, 0x0200, 0, 0, 0});
    station().PollingCycle();
    EXPECT_EQ(lampIndexes(Lamp::Yellow), (std::vector<int>{42}));
    EXPECT_GT(op.lampUpdates, 0);
}

TEST_F(PollingCycleTest, CircuitMeterScalesCurrentsByItsRangeAndShowsOverLamps) {
    auto& sim = startBus({"7:236"});
    selectListed(7, kCircuitMeter6);
    sim.set(7, 0, std::vector<int>(37, 0));
    sim.set(7, 2, {250, 120, 300, 9500});  // kW, kVAr, kVA, PF
    sim.set(7, 6, {48012, 27731});         // L-L and L-N averages
    sim.set(7, 8, {1200});
    sim.set(7, 16, {48000, 48010, 48020, 27700, 27720, 27740, 1234, 1100, 1000, 55});
    sim.set(7, 29, {100});
    sim.set(7, 36, {0x11});
    sim.command("name 7 MAIN");
    sim.command("name2 7 LP2");

    station().PollingCycle();

    const auto& f = station().meters().fields();
    EXPECT_EQ(f.currentA, "12.34");
    EXPECT_EQ(f.currentB, "11.00");
    EXPECT_EQ(f.currentC, "10.00");
    EXPECT_EQ(f.currentN, "0.55");
    EXPECT_EQ(f.currentAvg, "12.00");
    EXPECT_EQ(f.lnAN, "277.00");
    EXPECT_EQ(f.lnBN, "277.20");
    EXPECT_EQ(f.lnCN, "277.40");
    EXPECT_EQ(f.lnAvg, "277.31");
    EXPECT_EQ(f.llAB, "480.00");
    EXPECT_EQ(f.llBC, "480.10");
    EXPECT_EQ(f.llCA, "480.20");
    EXPECT_EQ(f.llAvg, "480.12");
    EXPECT_EQ(f.kW, "2.50");
    EXPECT_EQ(f.kVAr, "1.20");
    EXPECT_EQ(f.kVA, "3.00");
    EXPECT_EQ(f.pf, "0.95");
    EXPECT_EQ(f.firstName, "MAIN");
    EXPECT_EQ(f.secondName, "LP2");
    EXPECT_EQ(f.overAmps, Lamp::Red);
    EXPECT_EQ(f.overVolts, Lamp::Red);

    // A range the meter does not know gives a scale of zero: currents and powers are not known,
    // the voltages, power factor and lamps still are.
    sim.set(7, 29, {6000});
    sim.set(7, 36, {0});
    station().PollingCycle();
    for (const std::string* text : {&f.currentA, &f.currentB, &f.currentC, &f.currentN, &f.currentAvg, &f.kW, &f.kVAr, &f.kVA}) {
        EXPECT_EQ(*text, "");
    }
    EXPECT_EQ(f.lnAN, "277.00");
    EXPECT_EQ(f.pf, "0.95");
    EXPECT_EQ(station().meters().currentScale(), 0.0F);
    EXPECT_EQ(station().meters().fields().overAmps, Lamp::Green);
    EXPECT_EQ(station().meters().fields().overVolts, Lamp::Green);
}

TEST_F(PollingCycleTest, EightCircuitMeterHasNoNeutralCurrent) {
    auto& sim = startBus({"9:235"});
    selectListed(9, kCircuitMeter8);
    sim.set(9, 25, {500});
    station().PollingCycle();
    EXPECT_EQ(station().meters().fields().currentN, "N/A");
}

TEST_F(PollingCycleTest, FailedCircuitPollShowsTheReadoutUnknownAndKeepsTheScale) {
    auto& sim = startBus({"7:236"});
    selectListed(7, kCircuitMeter6);
    sim.set(7, 29, {100});
    sim.set(7, 22, {1234});
    sim.set(7, 36, {0x11});
    sim.command("name 7 MAIN");
    station().PollingCycle();
    const auto& f = station().meters().fields();
    ASSERT_EQ(f.currentA, "12.34");
    ASSERT_EQ(f.overAmps, Lamp::Red);

    // A red lamp does not turn green when the meter stops answering, nor does a reading become 0.
    sim.fault(7, "badcrc");
    station().PollingCycle();
    EXPECT_FLOAT_EQ(station().meters().currentScale(), 0.01F);  // as the last good poll read it
    EXPECT_EQ(station().meters().currentScaleAddress(), 7);
    for (const std::string* text : {&f.currentA, &f.currentB, &f.currentC, &f.currentN, &f.currentAvg, &f.lnAN, &f.lnBN,
                                    &f.lnCN, &f.lnAvg, &f.llAB, &f.llBC, &f.llCA, &f.llAvg, &f.kW, &f.kVAr, &f.kVA, &f.pf}) {
        EXPECT_EQ(*text, "");
    }
    EXPECT_EQ(f.firstName, "MAIN");  // names are settings, not readings
    EXPECT_EQ(f.overAmps, Lamp::Unknown);
    EXPECT_EQ(f.overVolts, Lamp::Unknown);
    EXPECT_EQ(station().bus().statistics().badReads, 1);
    EXPECT_EQ(station().bus().statistics().lastError, ModbusError::CrcError);
    EXPECT_EQ(station().bus().statistics().goodReads, 0);  // good polls of displayed models are not counted
    EXPECT_TRUE(op.messages.empty());
    // The first good poll shows it all again.
    sim.fault(7, "none");
    station().PollingCycle();
    EXPECT_EQ(f.currentA, "12.34");
    EXPECT_EQ(f.overAmps, Lamp::Red);
    EXPECT_EQ(f.overVolts, Lamp::Red);
}

TEST_F(PollingCycleTest, SilentMeterIsReportedOnceAtTheFifthFailureOfARun) {
    auto& sim = startBus({"3:230"});
    selectListed(3, kBranchMeter);
    sim.set(3, 0, std::vector<int>(42, 2000));
    station().PollingCycle();
    ASSERT_EQ(station().meters().fields().breaker[0], "2.000");

    sim.set(3, 42, {0x08});  // breaker 1 in alarm: red
    sim.set(3, 46, {0x01});
    station().PollingCycle();
    ASSERT_EQ(station().meters().fields().breakerLamp[0], Lamp::Red);
    sim.fault(3, "silent");
    for (int i = 1; i <= 4; ++i) {
        station().PollingCycle();
        EXPECT_EQ(station().meters().fields().breaker[0], "") << "failure " << i;
        EXPECT_EQ(station().meters().fields().breaker[41], "") << "failure " << i;
        EXPECT_EQ(lampIndexes(Lamp::Unknown).size(), 42U) << "failure " << i;
    }
    EXPECT_TRUE(op.messages.empty());
    const int transfersBefore = op.transfers;

    station().PollingCycle();
    ASSERT_EQ(op.messages.size(), 1U);
    EXPECT_EQ(op.messages[0].text, "Device at address [3] timed out");
    EXPECT_EQ(op.messages[0].caption, "Communication Failure");
    EXPECT_EQ(op.transfers, transfersBefore);  // the fifth keeps the readout unknown, no transfer
    EXPECT_EQ(station().meters().fields().breaker[0], "");
    EXPECT_EQ(station().meters().consecutiveFailures(), 5);

    station().PollingCycle();
    EXPECT_EQ(op.messages.size(), 1U);
    EXPECT_EQ(station().bus().statistics().badReads, 6);
    EXPECT_EQ(station().bus().statistics().lastError, ModbusError::Timeout);

    // A good answer ends the run; five more failures tell the operator again.
    sim.fault(3, "none");
    station().PollingCycle();
    EXPECT_EQ(station().meters().consecutiveFailures(), 0);
    EXPECT_EQ(station().meters().fields().breaker[0], "2.000");
    sim.fault(3, "badcrc");
    for (int i = 0; i < 5; ++i) station().PollingCycle();
    ASSERT_EQ(op.messages.size(), 2U);
    EXPECT_EQ(op.messages[1].text, "Device at address [3] read failure - error code [5]");
}

// The tick sends the poll and returns; its steps await the answer a slice at a time. The same
// reads go out as in a poll run whole, and the readout changes only once the answers are in. An
// answer that comes after the operator picked another meter is not shown as that meter's.
TEST_F(PollingCycleTest, ATickAwaitsThePollsAnswersInStepsAndShowsOnlyTheMeterStillSelected) {
    auto& sim = startBus({"3:230", "7:236"});
    sim.set(3, 0, std::vector<int>(42, 1500));
    sim.command("name 3 PNL1");
    selectListed(3, kBranchMeter);
    station().meters().recordSlaveId(7, kCircuitMeter6);

    const std::string before = station().meters().fields().breaker[0];
    station().tick();
    ASSERT_TRUE(station().tickUnderWay());
    EXPECT_EQ(station().meters().fields().breaker[0], before) << "nothing is shown before the answer";
    int steps = 0;
    while (station().step()) ++steps;
    EXPECT_FALSE(station().tickUnderWay());
    EXPECT_EQ(station().meters().fields().breaker[0], "1.500");
    EXPECT_EQ(station().meters().fields().firstName, "PNL1");
    auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(readStartOf(requests[0]), 0);
    EXPECT_EQ(readCountOf(requests[0]), 49);
    EXPECT_EQ(readStartOf(requests[1]), 273);
    EXPECT_EQ(readCountOf(requests[1]), 2);

    // A silent meter's read time-out is awaited in many short steps, and a tick meanwhile is skipped.
    sim.fault(3, "silent");
    sim.clearRequests();
    station().tick();
    station().tick();
    steps = 0;
    while (station().step()) ++steps;
    EXPECT_GE(steps, 10);
    EXPECT_EQ(sim.requests().size(), 1U);
    EXPECT_EQ(station().meters().consecutiveFailures(), 1);
    EXPECT_EQ(station().meters().fields().breaker[0], "");

    // The operator picks the Circuit meter at 7 while the Branch meter's answer is awaited.
    sim.fault(3, "none");
    sim.set(3, 0, std::vector<int>(42, 2500));
    station().tick();
    ASSERT_TRUE(station().tickUnderWay());
    station().meters().setSelected(SelectedMeter{7, kCircuitMeter6});
    while (station().step()) {
    }
    EXPECT_EQ(station().meters().fields().breaker[0], "") << "the Branch meter's answer is not shown";
    EXPECT_EQ(station().meters().consecutiveFailures(), 1);
}

TEST_F(PollingCycleTest, FailureRunIsSharedByAllMeters) {
    auto& sim = startBus({"3:230", "5:230"});
    sim.fault(3, "badcrc");
    sim.fault(5, "badcrc");
    selectListed(3, kBranchMeter);
    for (int i = 0; i < 3; ++i) station().PollingCycle();
    station().meters().recordSlaveId(5, kBranchMeter);
    station().meters().setSelected(SelectedMeter{5, kBranchMeter});
    station().PollingCycle();
    EXPECT_TRUE(op.messages.empty());
    station().PollingCycle();
    ASSERT_EQ(op.messages.size(), 1U);
    EXPECT_EQ(op.messages[0].text, "Device at address [5] read failure - error code [5]");
}

TEST_F(PollingCycleTest, TicksWhileTheFailureBoxIsOpenDoNotShowItAgain) {
    auto& sim = startBus({"3:230"});
    sim.fault(3, "badcrc");
    selectListed(3, kBranchMeter);
    op.leaveBoxesOpen = true;
    for (int i = 0; i < 8; ++i) station().PollingCycle();
    ASSERT_EQ(op.messages.size(), 1U);
    EXPECT_EQ(op.messages[0].caption, "Communication Failure");
    EXPECT_EQ(station().meters().consecutiveFailures(), 8) << "the ticks went on polling while the box was open";
}

TEST_F(PollingCycleTest, NothingIsPolledWithoutAnOpenPortOrDuringAScan) {
    auto& sim = startBus({"3:230"}, false);
    selectListed(3, kBranchMeter);
    station().PollingCycle();
    EXPECT_TRUE(sim.requests().empty());
    EXPECT_EQ(op.transfers, 0);
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    station().settings().scanDepth = 2;
    station().scan();  // a scan under way, between two of its steps
    sim.clearRequests();
    station().tick();
    EXPECT_TRUE(sim.requests().empty()) << "a tick during a scan polls nothing";
    station().cancelScan();
}

TEST_F(PollingCycleTest, FirstTickOpensThePortTheSettingsNamedAndScans) {
    auto& sim = startBus({"3:230"}, false);
    station().settings().scanDepth = 3;
    station().bus().link().portName = "COM1:";
    station().bus().link().reopenRequested = true;

    station().PollingCycle();

    EXPECT_TRUE(station().bus().link().portOpen);
    EXPECT_FALSE(station().bus().link().reopenRequested);
    EXPECT_EQ(station().meters().selected().address, 3);
    // The scan's three probes, the name read of the meter found, then this tick's poll.
    const auto requests = sim.requests();
    ASSERT_GE(requests.size(), 5U);
    EXPECT_EQ(functionOf(requests[0]), 17);
    EXPECT_EQ(functionOf(requests[requests.size() - 2]), 3);
    EXPECT_EQ(readCountOf(requests[requests.size() - 2]), 49);
    EXPECT_TRUE(op.messages.empty());
}

TEST_F(PollingCycleTest, FailedOpenAtTheFirstTickEndsTheTick) {
    setenv("QUORNA_COM2", "/nonexistent/quorna-no-port", 1);
    station().bus().link().portName = "COM2:";
    station().bus().link().reopenRequested = true;
    station().meters().setSelected(SelectedMeter{3, kBranchMeter});
    station().PollingCycle();
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Unable to open COM2:"}));
    EXPECT_FALSE(station().bus().link().reopenRequested);
    station().PollingCycle();  // no second attempt
    EXPECT_EQ(op.messages.size(), 1U);
    EXPECT_EQ(station().bus().statistics().badReads, 0);
    unsetenv("QUORNA_COM2");
}

TEST_F(PollingCycleTest, MetersThatAreNotDisplayedOnlyCount) {
    auto& sim = startBus({"2:600", "4:8035"});
    selectListed(2, kTemperatureMeter);
    station().meters().showLamps(redFirstBreaker());
    station().PollingCycle();
    EXPECT_EQ(station().bus().statistics().goodReads, 1);
    EXPECT_EQ(station().meters().fields().breakerLamp[0], Lamp::Green);
    EXPECT_EQ(station().meters().fields().breaker[0], "0.000");
    EXPECT_EQ(op.transfers, 1);
    auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(readStartOf(requests[0]), 256);
    EXPECT_EQ(readCountOf(requests[0]), 2);

    sim.clearRequests();
    selectListed(4, kEnergyOnlyMeter);
    sim.fault(4, "badcrc");
    station().meters().showLamps(redFirstBreaker());
    station().PollingCycle();
    EXPECT_EQ(station().bus().statistics().badReads, 1);
    EXPECT_EQ(station().meters().fields().breakerLamp[0], Lamp::Red);  // this model leaves the lamps alone
    requests = sim.requests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(readStartOf(requests[0]), 258);
    EXPECT_EQ(readCountOf(requests[0]), 4);
    EXPECT_TRUE(op.messages.empty());
}

}  // namespace
}  // namespace quorna::test
