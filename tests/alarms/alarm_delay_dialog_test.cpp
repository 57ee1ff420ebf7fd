// The "Alarm Delay Setup" window, alone and beside the alarm setup window.

#include "alarm_bus_fixture.h"

namespace quorna::test {
namespace {

using Dialog = AlarmDelayDialog;

int alarmField(int breaker) { return Dialog::kFirstAlarmField + breaker - 1; }
int warnField(int breaker) { return Dialog::kFirstWarnField + breaker - 1; }

class AlarmDelayTest : public AlarmBusTest {
protected:
    Dialog& openOn(int address) {
        select(address);
        EXPECT_TRUE(station().alarms().openAlarmDelays());
        sim->clearRequests();
        texts = station().alarms().alarmDelays.showFields();
        return station().alarms().alarmDelays;
    }
    Dialog::Texts texts;
};

TEST_F(AlarmDelayTest, ReadsBothDelayBlocksOfAnyMeter) {
    sim->set(kCircuitAddress, 219, {12});
    sim->set(kCircuitAddress, 218, {34});
    select(kCircuitAddress);
    ASSERT_TRUE(station().alarms().openAlarmDelays());
    EXPECT_EQ(readRequests(sim->requests()),
              (std::vector<ReadRequest>{{kCircuitAddress, 219, 42}, {kCircuitAddress, 177, 42}}));
    texts = station().alarms().alarmDelays.showFields();
    EXPECT_EQ(texts[alarmField(1)], "12");
    EXPECT_EQ(texts[warnField(42)], "34");
}

TEST_F(AlarmDelayTest, AlarmDelayOfBreaker1Set30SendsRegister219) {
    Dialog& dialog = openOn(kBranchAddress);
    texts[alarmField(1)] = "30";
    EXPECT_FALSE(dialog.takeFields(texts));
    EXPECT_FALSE(dialog.ok());
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:219=30"}));
    EXPECT_EQ(sim->get(kBranchAddress, 219, 1), (std::vector<int>{30}));
    EXPECT_FALSE(station().alarms().marks.delayWindowOpen);
}

TEST_F(AlarmDelayTest, WarnDelayOfBreaker42SendsRegister218) {
    Dialog& dialog = openOn(kBranchAddress);
    texts[warnField(42)] = "45";
    EXPECT_FALSE(dialog.takeFields(texts));
    EXPECT_FALSE(dialog.ok());
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:218=45"}));
}

TEST_F(AlarmDelayTest, Refuses65536AndAccepts65535) {
    Dialog& dialog = openOn(kBranchAddress);
    texts[warnField(5)] = "65536";
    EXPECT_EQ(dialog.takeFields(texts), warnField(5));
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Please enter an integer between 0 and 65535."}));
    EXPECT_EQ(dialog.ok(), warnField(5));
    EXPECT_TRUE(sim->requests().empty());
    EXPECT_TRUE(station().alarms().marks.delayWindowOpen);

    texts[warnField(5)] = "65535";
    EXPECT_FALSE(dialog.takeFields(texts));
    EXPECT_FALSE(dialog.ok());
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:181=65535"}));
    EXPECT_EQ(sim->get(kBranchAddress, 181, 1), (std::vector<int>{65535}));
}

TEST_F(AlarmDelayTest, CancelSendsNothingAndClearsTheMark) {
    Dialog& dialog = openOn(kBranchAddress);
    texts[alarmField(3)] = "99";
    EXPECT_FALSE(dialog.takeFields(texts));
    dialog.cancel();
    EXPECT_TRUE(sim->requests().empty());
    EXPECT_FALSE(station().alarms().marks.delayWindowOpen);
}

TEST_F(AlarmDelayTest, AlarmAndDelayWindowsOpenTogetherEachSendOnlyTheirOwnChanges) {
    select(kBranchAddress);
    ASSERT_EQ(station().alarms().openAlarmSetup(), AlarmSetupWindow::BreakerAlarms);
    ASSERT_TRUE(station().alarms().openAlarmDelays());
    auto alarmTexts = station().alarms().breakerAlarms.showFields();
    auto delayTexts = station().alarms().alarmDelays.showFields();
    sim->clearRequests();

    alarmTexts[BreakerAlarmDialog::kFirstAlarmField + 6] = "85";
    EXPECT_FALSE(station().alarms().breakerAlarms.takeFields(alarmTexts));
    delayTexts[warnField(3)] = "7";
    delayTexts[alarmField(7)] = "15";
    EXPECT_FALSE(station().alarms().alarmDelays.takeFields(delayTexts));

    EXPECT_FALSE(station().alarms().alarmDelays.ok());
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:225=15", "3:179=7"}));
    EXPECT_TRUE(station().alarms().marks.alarmWindowOpen);
    sim->clearRequests();
    EXPECT_FALSE(station().alarms().breakerAlarms.ok());
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:141=85"}));
}

TEST_F(AlarmDelayTest, WritesGoToTheMeterTheWindowOpenedFor) {
    Dialog& dialog = openOn(kBranchAddress);
    select(kOtherBranchAddress);
    texts[alarmField(1)] = "30";
    EXPECT_FALSE(dialog.takeFields(texts));
    EXPECT_FALSE(dialog.ok());
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:219=30"}));
    EXPECT_EQ(sim->get(kOtherBranchAddress, 219, 1), (std::vector<int>{10}));
}

}  // namespace
}  // namespace quorna::test
