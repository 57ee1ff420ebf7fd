// The Setpoints and Delays commands: their guard, and at most one window of each kind.

#include "alarm_bus_fixture.h"

namespace quorna::test {
namespace {

using AlarmOpenerTest = AlarmBusTest;

TEST_F(AlarmOpenerTest, NoValidMeterShowsTheGuardAndSendsNothing) {
    for (int address : {-1, 0}) {
        select(address);
        EXPECT_EQ(station().alarms().openAlarmSetup(), AlarmSetupWindow::None);
        EXPECT_FALSE(station().alarms().openAlarmDelays());
    }
    ASSERT_EQ(op.messages.size(), 4U);
    for (const auto& message : op.messages) {
        EXPECT_EQ(message.text, "You must select a valid meter before configuring alarms!");
        EXPECT_EQ(message.caption, "");
    }
    EXPECT_FALSE(station().alarms().marks.alarmWindowOpen);
    EXPECT_FALSE(station().alarms().marks.delayWindowOpen);
    EXPECT_TRUE(sim->requests().empty());
}

TEST_F(AlarmOpenerTest, BranchMeterGetsTheBreakerWindowOnlyOnce) {
    select(kBranchAddress);
    EXPECT_EQ(station().alarms().openAlarmSetup(), AlarmSetupWindow::BreakerAlarms);
    EXPECT_TRUE(station().alarms().marks.alarmWindowOpen);
    EXPECT_EQ(station().alarms().breakerAlarms.address(), kBranchAddress);
    sim->clearRequests();
    EXPECT_EQ(station().alarms().openAlarmSetup(), AlarmSetupWindow::None);
    EXPECT_TRUE(sim->requests().empty());
    EXPECT_TRUE(op.messages.empty());

    station().alarms().breakerAlarms.cancel();
    EXPECT_EQ(station().alarms().openAlarmSetup(), AlarmSetupWindow::BreakerAlarms);
}

TEST_F(AlarmOpenerTest, AnyOtherModelGetsTheGlobalLimitsWindowWhichSharesTheMark) {
    select(kCircuitAddress);
    EXPECT_EQ(station().alarms().openAlarmSetup(), AlarmSetupWindow::GlobalLimits);
    EXPECT_EQ(station().alarms().globalLimits.address(), kCircuitAddress);
    select(kBranchAddress);
    EXPECT_EQ(station().alarms().openAlarmSetup(), AlarmSetupWindow::None);
    station().alarms().globalLimits.cancel();
    EXPECT_EQ(station().alarms().openAlarmSetup(), AlarmSetupWindow::BreakerAlarms);
}

TEST_F(AlarmOpenerTest, ModelComesFromTheDirectoryNotTheSelection) {
    station().meters().recordSlaveId(9, 0);  // a meter that never answered a scan
    station().meters().setSelected(SelectedMeter{9, kBranchMeter});
    EXPECT_EQ(station().alarms().openAlarmSetup(), AlarmSetupWindow::GlobalLimits);
}

TEST_F(AlarmOpenerTest, DelayWindowOpensBesideTheAlarmWindowOnlyOnce) {
    select(kBranchAddress);
    EXPECT_EQ(station().alarms().openAlarmSetup(), AlarmSetupWindow::BreakerAlarms);
    EXPECT_TRUE(station().alarms().openAlarmDelays());
    EXPECT_FALSE(station().alarms().openAlarmDelays());
    station().alarms().alarmDelays.cancel();
    EXPECT_TRUE(station().alarms().marks.alarmWindowOpen);
    EXPECT_TRUE(station().alarms().openAlarmDelays());
}

TEST_F(AlarmOpenerTest, ANewStationStartsWithTheGlobalFieldsAndMarksAtTheirDefaults) {
    select(kBranchAddress);
    ASSERT_EQ(station().alarms().openAlarmSetup(), AlarmSetupWindow::BreakerAlarms);
    auto texts = station().alarms().breakerAlarms.showFields();
    texts[BreakerAlarmDialog::kWarningPercentField] = "50";
    EXPECT_FALSE(station().alarms().breakerAlarms.takeFields(texts));
    freshStation();
    EXPECT_FALSE(station().alarms().marks.alarmWindowOpen);
    EXPECT_EQ(station().alarms().breakerAlarms.warningPercent(), 70);
    EXPECT_EQ(station().alarms().breakerAlarms.alarmPercent(), 80);
    EXPECT_EQ(station().alarms().breakerAlarms.alarmHoldoff(), 10);
    EXPECT_EQ(station().alarms().breakerAlarms.warningHoldoff(), 0);
}

}  // namespace
}  // namespace quorna::test
