// The alarm reset of the selected meter.

#include "meters/meter_commands.h"

#include "meters/main_window_fields.h"
#include "meter_bus_fixture.h"
#include "meters/meter_model.h"
#include "meters/meters.h"

namespace quorna::test {
namespace {

using ResetTest = MeterBusTest;

TEST_F(ResetTest, BranchMeterGetsSixClearingWritesAndOneReadBack) {
    auto& sim = startBus({"3:230"});
    station().meters().recordSlaveId(3, kBranchMeter);
    station().meters().setSelected(SelectedMeter{3, kBranchMeter});
    sim.set(3, 42, {0x09, 1, 0, 0, 1, 0, 0});
    MeterLamps lamps;
    lamps.breaker[0] = Lamp::Red;
    station().meters().showLamps(lamps);

    resetMeterAlarms(station().meters());

    const auto writes = sim.writes();
    ASSERT_EQ(writes.size(), 6U);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(writes[static_cast<std::size_t>(i)].address, 3);
        EXPECT_EQ(writes[static_cast<std::size_t>(i)].reg, 43 + i);
        EXPECT_EQ(writes[static_cast<std::size_t>(i)].value, 0);
    }
    const auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 7U);
    EXPECT_EQ(functionOf(requests[6]), 3);
    EXPECT_EQ(readStartOf(requests[6]), 0);
    EXPECT_EQ(readCountOf(requests[6]), 49);
    EXPECT_EQ(sim.get(3, 43, 6), (std::vector<int>{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(station().meters().fields().breakerLamp[0], Lamp::Green);
    EXPECT_EQ(op.waitCursorShows, 1);
    EXPECT_EQ(op.waitCursorDepth, 0);
    EXPECT_TRUE(op.messages.empty());
}

TEST_F(ResetTest, CircuitMeterClearsItsAlarmRegister) {
    auto& sim = startBus({"7:236"});
    station().meters().recordSlaveId(7, kCircuitMeter6);
    station().meters().setSelected(SelectedMeter{7, kCircuitMeter6});
    sim.set(7, 36, {0x11});
    MeterLamps lamps;
    lamps.overAmps = Lamp::Red;
    station().meters().showLamps(lamps);

    resetMeterAlarms(station().meters());

    const auto writes = sim.writes();
    ASSERT_EQ(writes.size(), 1U);
    EXPECT_EQ(writes[0].reg, 36);
    EXPECT_EQ(writes[0].value, 0);
    const auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(readCountOf(requests[1]), 37);
    EXPECT_EQ(station().meters().fields().overAmps, Lamp::Green);
}

TEST_F(ResetTest, SilentMeterAfterResetShowsUnknownLamps) {
    auto& sim = startBus({"3:230"});
    station().meters().recordSlaveId(3, kBranchMeter);
    station().meters().setSelected(SelectedMeter{3, kBranchMeter});
    sim.fault(3, "badcrc");
    MeterLamps lamps;
    lamps.breaker[5] = Lamp::Yellow;
    station().meters().showLamps(lamps);
    resetMeterAlarms(station().meters());
    for (Lamp lamp : station().meters().fields().breakerLamp) EXPECT_EQ(lamp, Lamp::Unknown);
    EXPECT_TRUE(op.messages.empty());
}

TEST_F(ResetTest, NoMeterSelectedIsToldAndNothingIsSent) {
    auto& sim = startBus({"3:230"});
    station().meters().recordSlaveId(3, kBranchMeter);
    resetMeterAlarms(station().meters());
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"There is no valid meter selected to reset!"}));
    EXPECT_EQ(op.messages[0].caption, "");
    EXPECT_TRUE(sim.requests().empty());
    EXPECT_EQ(op.waitCursorShows, 0);
}

TEST_F(ResetTest, MeterOfAnotherModelGetsNothing) {
    auto& sim = startBus({"2:600"});
    station().meters().recordSlaveId(2, kTemperatureMeter);
    station().meters().setSelected(SelectedMeter{2, kTemperatureMeter});
    resetMeterAlarms(station().meters());
    EXPECT_TRUE(sim.requests().empty());
    EXPECT_TRUE(op.messages.empty());
}

}  // namespace
}  // namespace quorna::test
