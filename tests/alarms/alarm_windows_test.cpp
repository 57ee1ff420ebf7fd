// The Setpoints and Delays commands: their guard, and at most one window of each kind.

#include "alarm_bus_fixture.h"

namespace quorna::test {
namespace {

using AlarmOpenerTest = AlarmBusTest;

TEST_F(AlarmOpenerTest, NoValidMeterShowsTheGuardAndSendsNothing) {
    for (int address : {-1, 0}) {
        select(address);
        EXPECT_EQ(openAlarmSetup(), AlarmSetupWindow::None);
        EXPECT_FALSE(openAlarmDelays());
    }
    ASSERT_EQ(op->messages.size(), 4U);
    for (const auto& message : op->messages) {
        EXPECT_EQ(message.text, "You must select a valid meter before configuring alarms!");
        EXPECT_EQ(message.caption, "");
    }
    EXPECT_FALSE(alarmWindowMarks().alarmWindowOpen);
    EXPECT_FALSE(alarmWindowMarks().delayWindowOpen);
    EXPECT_TRUE(sim->requests().empty());
}

TEST_F(AlarmOpenerTest, BranchMeterGetsTheBreakerWindowOnlyOnce) {
    select(kBranchAddress);
    EXPECT_EQ(openAlarmSetup(), AlarmSetupWindow::BreakerAlarms);
    EXPECT_TRUE(alarmWindowMarks().alarmWindowOpen);
    EXPECT_EQ(breakerAlarmDialog().address(), kBranchAddress);
    sim->clearRequests();
    EXPECT_EQ(openAlarmSetup(), AlarmSetupWindow::None);
    EXPECT_TRUE(sim->requests().empty());
    EXPECT_TRUE(op->messages.empty());

    breakerAlarmDialog().cancel();
    EXPECT_EQ(openAlarmSetup(), AlarmSetupWindow::BreakerAlarms);
}

TEST_F(AlarmOpenerTest, AnyOtherModelGetsTheGlobalLimitsWindowWhichSharesTheMark) {
    select(kCircuitAddress);
    EXPECT_EQ(openAlarmSetup(), AlarmSetupWindow::GlobalLimits);
    EXPECT_EQ(globalLimitsDialog().address(), kCircuitAddress);
    select(kBranchAddress);
    EXPECT_EQ(openAlarmSetup(), AlarmSetupWindow::None);
    globalLimitsDialog().cancel();
    EXPECT_EQ(openAlarmSetup(), AlarmSetupWindow::BreakerAlarms);
}

TEST_F(AlarmOpenerTest, ModelComesFromTheDirectoryNotTheSelection) {
    meterDirectory()[9] = 0;  // a meter that never answered a scan
    selectedMeter().address = 9;
    selectedMeter().model = kBranchMeter;
    EXPECT_EQ(openAlarmSetup(), AlarmSetupWindow::GlobalLimits);
}

TEST_F(AlarmOpenerTest, DelayWindowOpensBesideTheAlarmWindowOnlyOnce) {
    select(kBranchAddress);
    EXPECT_EQ(openAlarmSetup(), AlarmSetupWindow::BreakerAlarms);
    EXPECT_TRUE(openAlarmDelays());
    EXPECT_FALSE(openAlarmDelays());
    alarmDelayDialog().cancel();
    EXPECT_TRUE(alarmWindowMarks().alarmWindowOpen);
    EXPECT_TRUE(openAlarmDelays());
}

TEST_F(AlarmOpenerTest, ResetPutsTheGlobalFieldsAndMarksBack) {
    select(kBranchAddress);
    ASSERT_EQ(openAlarmSetup(), AlarmSetupWindow::BreakerAlarms);
    auto texts = breakerAlarmDialog().showFields();
    texts[BreakerAlarmDialog::kWarningPercentField] = "50";
    EXPECT_FALSE(breakerAlarmDialog().takeFields(texts));
    resetAlarmState();
    EXPECT_FALSE(alarmWindowMarks().alarmWindowOpen);
    EXPECT_EQ(breakerAlarmDialog().warningPercent(), 70);
    EXPECT_EQ(breakerAlarmDialog().alarmPercent(), 80);
    EXPECT_EQ(breakerAlarmDialog().alarmHoldoff(), 10);
    EXPECT_EQ(breakerAlarmDialog().warningHoldoff(), 0);
}

}  // namespace
}  // namespace quorna::test
