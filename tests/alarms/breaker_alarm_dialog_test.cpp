// The Branch meter's "Alarm Setup" window: what it shows, what "OK" and "SET" send, what it refuses.

#include "alarm_bus_fixture.h"

namespace quorna::test {
namespace {

using Dialog = BreakerAlarmDialog;

int alarmField(int breaker) { return Dialog::kFirstAlarmField + breaker - 1; }
int warnField(int breaker) { return Dialog::kFirstWarnField + breaker - 1; }

class BreakerAlarmTest : public AlarmBusTest {
protected:
    // The operator picks the Branch meter and chooses Setpoints.
    Dialog& openOn(int address) {
        select(address);
        EXPECT_EQ(station().alarms().openAlarmSetup(), AlarmSetupWindow::BreakerAlarms);
        sim->clearRequests();
        texts = station().alarms().breakerAlarms.showFields();
        return station().alarms().breakerAlarms;
    }
    Dialog::Texts texts;
};

TEST_F(BreakerAlarmTest, ShowsTheThresholdsTheMeterHolds) {
    sim->set(kBranchAddress, 135 + 6, {85});
    sim->set(kBranchAddress, 93 + 41, {65});
    select(kBranchAddress);
    ASSERT_EQ(station().alarms().openAlarmSetup(), AlarmSetupWindow::BreakerAlarms);
    EXPECT_EQ(readRequests(sim->requests()),
              (std::vector<ReadRequest>{{kBranchAddress, 135, 42}, {kBranchAddress, 93, 42}}));
    texts = station().alarms().breakerAlarms.showFields();
    EXPECT_EQ(texts[alarmField(7)], "85");
    EXPECT_EQ(texts[alarmField(1)], "80");
    EXPECT_EQ(texts[warnField(42)], "65");
    EXPECT_EQ(texts[warnField(1)], "70");
    EXPECT_EQ(texts[Dialog::kWarningPercentField], "70");
    EXPECT_EQ(texts[Dialog::kAlarmPercentField], "80");
    EXPECT_EQ(texts[Dialog::kAlarmHoldoffField], "10");
    EXPECT_EQ(texts[Dialog::kWarningHoldoffField], "0");
}

TEST_F(BreakerAlarmTest, AlarmOfBreaker7ChangedTo85SendsExactlyRegister141) {
    Dialog& dialog = openOn(kBranchAddress);
    texts[alarmField(7)] = "85";
    EXPECT_FALSE(dialog.takeFields(texts));
    EXPECT_FALSE(dialog.ok());
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:141=85"}));
    EXPECT_TRUE(readRequests(sim->requests()).empty());  // "OK" reads nothing back
    EXPECT_EQ(sim->get(kBranchAddress, 141, 1), (std::vector<int>{85}));
    EXPECT_FALSE(station().alarms().marks.alarmWindowOpen);
    EXPECT_EQ(op.waitCursorDepth, 0);
    EXPECT_GE(op.waitCursorShows, 1);
}

TEST_F(BreakerAlarmTest, WarnOfBreaker42SendsRegister134AndAlarmsGoFirst) {
    Dialog& dialog = openOn(kBranchAddress);
    texts[warnField(42)] = "60";
    texts[warnField(1)] = "50";
    texts[alarmField(42)] = "95";
    texts[alarmField(2)] = "90";
    EXPECT_FALSE(dialog.takeFields(texts));
    EXPECT_FALSE(dialog.ok());
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:136=90", "3:176=95", "3:93=50", "3:134=60"}));
    EXPECT_EQ(sim->get(kBranchAddress, 134, 1), (std::vector<int>{60}));
}

TEST_F(BreakerAlarmTest, OkWithoutChangesSendsNothing) {
    Dialog& dialog = openOn(kBranchAddress);
    EXPECT_FALSE(dialog.takeFields(texts));  // the operator tabbed through without typing
    EXPECT_FALSE(dialog.ok());
    EXPECT_TRUE(sim->requests().empty());
}

TEST_F(BreakerAlarmTest, ValueTypedBackToWhatTheMeterHoldsIsNotSent) {
    Dialog& dialog = openOn(kBranchAddress);
    texts[alarmField(5)] = "81";
    EXPECT_FALSE(dialog.takeFields(texts));
    texts[alarmField(5)] = "80";
    EXPECT_FALSE(dialog.takeFields(texts));
    EXPECT_FALSE(dialog.ok());
    EXPECT_TRUE(sim->writes().empty());
}

TEST_F(BreakerAlarmTest, SilentMeterShowsMinusOneEverywhereAndOkSendsNothing) {
    sim->fault(kBranchAddress, "silent");
    Dialog& dialog = openOn(kBranchAddress);
    for (int k = 1; k <= kBreakerCount; ++k) {
        EXPECT_EQ(texts[alarmField(k)], "-1");
        EXPECT_EQ(texts[warnField(k)], "-1");
    }
    EXPECT_EQ(dialog.snapshot().alarm[0], -1);
    // Moving through the edits does not trip over the -1 the window itself put there.
    EXPECT_FALSE(dialog.takeFields(texts));
    EXPECT_TRUE(op.messages.empty());
    EXPECT_FALSE(dialog.ok());
    EXPECT_TRUE(sim->writes().empty());
}

TEST_F(BreakerAlarmTest, AlarmPercentSetWrites269ThenRereadsAndDropsUnsentEdits) {
    Dialog& dialog = openOn(kBranchAddress);
    texts[alarmField(7)] = "55";  // not sent yet
    texts[Dialog::kAlarmPercentField] = "85";
    EXPECT_FALSE(dialog.takeFields(texts));
    EXPECT_FALSE(dialog.set(Dialog::GlobalSetting::AlarmPercent));
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:269=85"}));
    EXPECT_EQ(readRequests(sim->requests()),
              (std::vector<ReadRequest>{{kBranchAddress, 135, 42}, {kBranchAddress, 93, 42}}));
    EXPECT_EQ(sim->get(kBranchAddress, 269, 1), (std::vector<int>{85}));

    // The grid shows what the meter now holds (the meter may have applied the new level to
    // every breaker); the unsent 55 is gone.
    texts = dialog.showFields();
    const auto held = sim->get(kBranchAddress, 135, 42);
    for (int k = 1; k <= kBreakerCount; ++k) EXPECT_EQ(texts[alarmField(k)], std::to_string(held[k - 1])) << k;
    EXPECT_NE(texts[alarmField(7)], "55");
    EXPECT_EQ(texts[Dialog::kAlarmPercentField], "85");
    sim->clearRequests();
    EXPECT_FALSE(dialog.ok());
    EXPECT_TRUE(sim->writes().empty());
}

TEST_F(BreakerAlarmTest, EachSetButtonWritesItsOwnRegister) {
    Dialog& dialog = openOn(kBranchAddress);
    texts[Dialog::kWarningPercentField] = "65";
    texts[Dialog::kAlarmHoldoffField] = "65535";
    texts[Dialog::kWarningHoldoffField] = "30";
    EXPECT_FALSE(dialog.takeFields(texts));
    EXPECT_FALSE(dialog.set(Dialog::GlobalSetting::WarningPercent));
    EXPECT_FALSE(dialog.set(Dialog::GlobalSetting::WarningHoldoff));
    EXPECT_FALSE(dialog.set(Dialog::GlobalSetting::AlarmHoldoff));
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:268=65", "3:270=30", "3:271=65535"}));
    EXPECT_EQ(sim->get(kBranchAddress, 268, 4), (std::vector<int>{65, 80, 30, 65535}));
}

TEST_F(BreakerAlarmTest, ValuesOutsideTheRangesAreRefusedAndNeverSent) {
    Dialog& dialog = openOn(kBranchAddress);
    texts[warnField(9)] = "101";
    EXPECT_EQ(dialog.takeFields(texts), warnField(9));
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Please enter an integer between 0 and 100."}));
    EXPECT_EQ(op.messages.back().caption, "");

    // While the field holds the refused value, "OK" and "SET" send nothing and say so again.
    EXPECT_EQ(dialog.ok(), warnField(9));
    EXPECT_EQ(dialog.set(Dialog::GlobalSetting::AlarmPercent), warnField(9));
    EXPECT_EQ(op.messages.size(), 3U);
    EXPECT_TRUE(sim->requests().empty());
    EXPECT_TRUE(station().alarms().marks.alarmWindowOpen);

    texts[warnField(9)] = "x9";
    EXPECT_EQ(dialog.takeFields(texts), warnField(9));
    EXPECT_EQ(op.messages.back().text, "Please enter an integer.");

    texts[warnField(9)] = "90";
    texts[Dialog::kAlarmHoldoffField] = "65536";
    EXPECT_EQ(dialog.takeFields(texts), Dialog::kAlarmHoldoffField);
    EXPECT_EQ(op.messages.back().text, "Please enter an integer between 0 and 65535.");
    texts[Dialog::kAlarmHoldoffField] = "10";
    texts[Dialog::kAlarmPercentField] = "-1";
    EXPECT_EQ(dialog.takeFields(texts), Dialog::kAlarmPercentField);
    EXPECT_EQ(op.messages.back().text, "Please enter an integer between 0 and 100.");
    texts[Dialog::kAlarmPercentField] = "80";

    EXPECT_FALSE(dialog.takeFields(texts));
    EXPECT_FALSE(dialog.ok());
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:101=90"}));
}

TEST_F(BreakerAlarmTest, TakeStopsAtTheFirstFailingFieldInOrder) {
    Dialog& dialog = openOn(kBranchAddress);
    texts[alarmField(3)] = "75";
    texts[alarmField(40)] = "200";
    texts[warnField(2)] = "300";
    EXPECT_EQ(dialog.takeFields(texts), alarmField(40));
    EXPECT_EQ(op.messages.size(), 1U);
    EXPECT_EQ(dialog.alarmLimit(3), 75);   // taken before the failure
    EXPECT_EQ(dialog.alarmLimit(40), 80);  // the refused field keeps its value
}

TEST_F(BreakerAlarmTest, GlobalFieldsKeepTheirValuesBetweenOpenings) {
    Dialog& dialog = openOn(kBranchAddress);
    texts[Dialog::kWarningPercentField] = "75";
    texts[Dialog::kAlarmPercentField] = "85";
    texts[Dialog::kAlarmHoldoffField] = "20";
    texts[Dialog::kWarningHoldoffField] = "5";
    EXPECT_FALSE(dialog.takeFields(texts));
    dialog.cancel();
    EXPECT_TRUE(sim->writes().empty());

    sim->set(kBranchAddress, 141, {33});
    openOn(kBranchAddress);
    EXPECT_EQ(texts[Dialog::kWarningPercentField], "75");
    EXPECT_EQ(texts[Dialog::kAlarmPercentField], "85");
    EXPECT_EQ(texts[Dialog::kAlarmHoldoffField], "20");
    EXPECT_EQ(texts[Dialog::kWarningHoldoffField], "5");
    EXPECT_EQ(texts[alarmField(7)], "33");  // the thresholds are read afresh
}

TEST_F(BreakerAlarmTest, MeterNameIsTheFirstNameText) {
    station().meters().setFirstName("PNL1");
    openOn(kBranchAddress);
    EXPECT_EQ(texts[Dialog::kMeterNameField], "PNL1");
}

TEST_F(BreakerAlarmTest, WritesGoToTheMeterTheWindowOpenedForAfterTheSelectionChanges) {
    Dialog& dialog = openOn(kBranchAddress);
    select(kOtherBranchAddress);
    texts[alarmField(7)] = "85";
    texts[Dialog::kAlarmPercentField] = "90";
    EXPECT_FALSE(dialog.takeFields(texts));
    EXPECT_FALSE(dialog.set(Dialog::GlobalSetting::AlarmPercent));
    EXPECT_EQ(readRequests(sim->requests()),
              (std::vector<ReadRequest>{{kBranchAddress, 135, 42}, {kBranchAddress, 93, 42}}));
    texts = dialog.showFields();
    texts[alarmField(7)] = "85";
    EXPECT_FALSE(dialog.takeFields(texts));
    EXPECT_FALSE(dialog.ok());
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:269=90", "3:141=85"}));
    EXPECT_EQ(sim->get(kOtherBranchAddress, 141, 1), (std::vector<int>{80}));
    EXPECT_EQ(sim->get(kOtherBranchAddress, 269, 1), (std::vector<int>{80}));
}

}  // namespace
}  // namespace quorna::test
