// The Circuit meter's "Alarm Setup" window: limits in volts, amperes and KVA, the "Critical" flags.

#include "alarm_bus_fixture.h"

namespace quorna::test {
namespace {

using Dialog = GlobalLimitsDialog;

class GlobalLimitsTest : public AlarmBusTest {
protected:
    void SetUp() override {
        AlarmBusTest::SetUp();
        // The scale a good poll of the Circuit meter left.
        station().meters().setCurrentScale(station().meters().currentScaleAddress(), 0.1F);
        station().meters().setCurrentScale(kCircuitAddress, station().meters().currentScale());
        // Only what each test stores: limits and flags of zero.
        sim->set(kCircuitAddress, 30, {0, 0, 0, 0, 0, 0, 0, 0});
        sim->set(kCircuitAddress, 73, {0});
    }

    Dialog& openOn(int address) {
        select(address);
        EXPECT_EQ(station().alarms().openAlarmSetup(), AlarmSetupWindow::GlobalLimits);
        sim->clearRequests();
        controls = station().alarms().globalLimits.showFields();
        return station().alarms().globalLimits;
    }

    void type(int field, const std::string& text) { controls.texts[static_cast<std::size_t>(field)] = text; }
    const std::string& shown(int field) const { return controls.texts[static_cast<std::size_t>(field)]; }
    void check(int box, bool on = true) { controls.critical[static_cast<std::size_t>(box)] = on; }

    // Takes the fields and presses "OK"; true when the window closed.
    bool pressOk() {
        Dialog& dialog = station().alarms().globalLimits;
        if (dialog.takeFields(controls)) return false;
        return !dialog.ok();
    }

    Dialog::Controls controls;
};

TEST_F(GlobalLimitsTest, ReadsTheLimitBlockAndTheFlagWord) {
    select(kCircuitAddress);
    ASSERT_EQ(station().alarms().openAlarmSetup(), AlarmSetupWindow::GlobalLimits);
    EXPECT_EQ(readRequests(sim->requests()),
              (std::vector<ReadRequest>{{kCircuitAddress, 30, 8}, {kCircuitAddress, 73, 1}}));
    EXPECT_EQ(op.waitCursorDepth, 0);
    EXPECT_GE(op.waitCursorShows, 1);
}

TEST_F(GlobalLimitsTest, VoltageOver27700Shows277AndEntering280Writes28000) {
    sim->set(kCircuitAddress, 30, {27700});
    openOn(kCircuitAddress);
    EXPECT_EQ(shown(Dialog::kVoltageOverField), "277");
    type(Dialog::kVoltageOverField, "280");
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:30=28000"}));
    EXPECT_EQ(sim->get(kCircuitAddress, 30, 1), (std::vector<int>{28000}));
    EXPECT_FALSE(station().alarms().marks.alarmWindowOpen);
}

TEST_F(GlobalLimitsTest, LimitsShowUpToSixSignificantDigits) {
    sim->set(kCircuitAddress, 30, {27701, 12345, 1234, 5, 65535, 7, 0, 90});
    station().meters().setCurrentScale(station().meters().currentScaleAddress(), 0.01F);
    openOn(kCircuitAddress);
    EXPECT_EQ(shown(Dialog::kVoltageOverField), "277.01");
    EXPECT_EQ(shown(Dialog::kVoltageUnderField), "123.45");
    EXPECT_EQ(shown(Dialog::kCurrentOverField), "12.34");
    EXPECT_EQ(shown(Dialog::kCurrentUnderField), "0.05");
    EXPECT_EQ(shown(Dialog::kKvaOverField), "655.35");
    EXPECT_EQ(shown(Dialog::kKvaUnderField), "0.07");
    EXPECT_EQ(shown(Dialog::kPhaseLossField), "90");
    // Moving through the edits without typing changes nothing, whatever the decimal rounding.
    EXPECT_TRUE(pressOk());
    EXPECT_TRUE(sim->requests().empty());
}

TEST_F(GlobalLimitsTest, CurrentScaledByCurrentScale) {
    sim->set(kCircuitAddress, 32, {1500});
    openOn(kCircuitAddress);
    EXPECT_EQ(shown(Dialog::kCurrentOverField), "150");
    type(Dialog::kCurrentOverField, "200");
    type(Dialog::kKvaUnderField, "12.5");
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:32=2000", "5:35=125"}));
}

TEST_F(GlobalLimitsTest, Entering120Point1VoltsWrites12010) {
    openOn(kCircuitAddress);
    type(Dialog::kVoltageUnderField, "120.1");
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:31=12010"}));
}

TEST_F(GlobalLimitsTest, LimitsThatDoNotFitARegisterAreRefusedWithTheRangeThatFits) {
    Dialog& dialog = openOn(kCircuitAddress);
    type(Dialog::kVoltageOverField, "700");  // 70000 counts
    EXPECT_EQ(dialog.takeFields(controls), Dialog::kVoltageOverField);
    EXPECT_EQ(op.messages.back().text, "Please enter a number between 0 and 655.35.");
    EXPECT_EQ(op.messages.back().caption, "");
    EXPECT_EQ(dialog.ok(), Dialog::kVoltageOverField);
    EXPECT_TRUE(station().alarms().marks.alarmWindowOpen);
    type(Dialog::kVoltageOverField, "70000");
    EXPECT_EQ(dialog.takeFields(controls), Dialog::kVoltageOverField);
    EXPECT_EQ(op.messages.back().text, "Please enter a number between 0 and 655.35.");
    type(Dialog::kVoltageOverField, "655.35");
    type(Dialog::kKvaOverField, "6553.6");  // 65536 counts at 0.1
    EXPECT_EQ(dialog.takeFields(controls), Dialog::kKvaOverField);
    EXPECT_EQ(op.messages.back().text, "Please enter a number between 0 and 6553.5.");
    EXPECT_TRUE(sim->requests().empty());

    // At a scale of 0.01 the largest current is 655.35 A.
    station().meters().setCurrentScale(station().meters().currentScaleAddress(), 0.01F);
    type(Dialog::kKvaOverField, "6553.5");
    type(Dialog::kCurrentOverField, "1000");
    EXPECT_EQ(dialog.takeFields(controls), Dialog::kCurrentOverField);
    EXPECT_EQ(op.messages.back().text, "Please enter a number between 0 and 655.35.");
    type(Dialog::kCurrentOverField, "600");
    EXPECT_EQ(dialog.takeFields(controls), Dialog::kKvaOverField);  // taken at 0.1, too large at 0.01
    type(Dialog::kKvaOverField, "20");
    type(Dialog::kPhaseLossField, "95");
    ASSERT_FALSE(dialog.takeFields(controls));

    // The meter's CT size changes before "OK": 600 A no longer fits, and nothing at all is sent.
    station().meters().setCurrentScale(station().meters().currentScaleAddress(), 0.001F);
    EXPECT_EQ(dialog.ok(), Dialog::kCurrentOverField);
    EXPECT_EQ(op.messages.back().text, "Please enter a number between 0 and 65.535.");
    EXPECT_TRUE(sim->requests().empty());
    EXPECT_TRUE(station().alarms().marks.alarmWindowOpen);
    station().meters().setCurrentScale(station().meters().currentScaleAddress(), 0.01F);
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:30=65535", "5:32=60000", "5:34=2000", "5:37=95"}));
}

TEST_F(GlobalLimitsTest, WithoutACurrentScaleNothingIsSentAndTheWindowSaysSo) {
    // A CT size of 6000 or more gives no scale: the current and KVA limits have no register value.
    station().meters().setCurrentScale(station().meters().currentScaleAddress(), 0.0F);
    sim->set(kCircuitAddress, 29, {6000});
    sim->set(kCircuitAddress, 32, {1500});
    Dialog& dialog = openOn(kCircuitAddress);
    EXPECT_EQ(shown(Dialog::kCurrentOverField), "");  // no scale, no value to show
    type(Dialog::kCurrentOverField, "200");
    type(Dialog::kKvaUnderField, "3");
    type(Dialog::kVoltageOverField, "250");
    ASSERT_FALSE(dialog.takeFields(controls));
    EXPECT_EQ(dialog.ok(), Dialog::kCurrentOverField);
    EXPECT_EQ(op.messages.back().text, "The meter's current scale (CT size) could not be read: nothing was written.");
    EXPECT_TRUE(sim->writes().empty());
    EXPECT_EQ(readRequests(sim->requests()), (std::vector<ReadRequest>{{kCircuitAddress, 29, 1}}));
    EXPECT_TRUE(station().alarms().marks.alarmWindowOpen);
    // Once the CT size gives a scale, "OK" converts with it.
    sim->set(kCircuitAddress, 29, {100});
    sim->clearRequests();
    EXPECT_FALSE(dialog.ok());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:30=25000", "5:32=20000", "5:35=300"}));
}

TEST_F(GlobalLimitsTest, FailedPollsDoNotChangeTheScaleOkConvertsWith) {
    // A Circuit meter with CT size 100 (scale 0.01), polled once with success.
    station().meters().setCurrentScale(station().meters().currentScaleAddress(), 0.0F);
    station().meters().setCurrentScale(-1, station().meters().currentScale());
    sim->set(kCircuitAddress, 29, {100});
    sim->set(kCircuitAddress, 32, {50000});
    select(kCircuitAddress);
    station().PollingCycle();
    ASSERT_FLOAT_EQ(station().meters().currentScale(), 0.01F);
    openOn(kCircuitAddress);
    EXPECT_EQ(shown(Dialog::kCurrentOverField), "500");
    type(Dialog::kCurrentOverField, "5");
    ASSERT_FALSE(station().alarms().globalLimits.takeFields(controls));
    // Two polls fail while the window is open.
    sim->fault(kCircuitAddress, "exception");
    station().PollingCycle();
    station().PollingCycle();
    sim->fault(kCircuitAddress, "none");
    sim->clearRequests();
    EXPECT_FALSE(station().alarms().globalLimits.ok());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:32=500"}));
}

TEST_F(GlobalLimitsTest, AMeterWithoutAGoodPollGivesItsScaleFromItsCtSizeOrNothingIsSent) {
    station().meters().setCurrentScale(station().meters().currentScaleAddress(), 0.1F);
    station().meters().setCurrentScale(kOtherCircuitAddress, station().meters().currentScale());  // another meter's scale
    sim->set(kCircuitAddress, 29, {100});
    sim->set(kCircuitAddress, 32, {1500});
    select(kCircuitAddress);
    ASSERT_EQ(station().alarms().openAlarmSetup(), AlarmSetupWindow::GlobalLimits);
    EXPECT_EQ(readRequests(sim->requests()), (std::vector<ReadRequest>{
                  {kCircuitAddress, 30, 8}, {kCircuitAddress, 29, 1}, {kCircuitAddress, 73, 1}}));
    controls = station().alarms().globalLimits.showFields();
    EXPECT_EQ(shown(Dialog::kCurrentOverField), "15");
    station().alarms().globalLimits.cancel();

    // The meter does not answer at opening nor at "OK": no scale, nothing sent, said so.
    sim->fault(kCircuitAddress, "exception");
    Dialog& dialog = openOn(kCircuitAddress);
    EXPECT_EQ(shown(Dialog::kCurrentOverField), "");
    type(Dialog::kCurrentOverField, "5");
    type(Dialog::kKvaOverField, "0");  // no value was shown: even 0 is the operator's
    type(Dialog::kPhaseLossField, "10");
    ASSERT_FALSE(dialog.takeFields(controls));
    EXPECT_EQ(dialog.ok(), Dialog::kCurrentOverField);
    EXPECT_EQ(op.messages.back().text, "The meter's current scale (CT size) could not be read: nothing was written.");
    EXPECT_TRUE(sim->writes().empty());
    // It answers again: "OK" reads the CT size and converts with it.
    sim->fault(kCircuitAddress, "none");
    EXPECT_FALSE(dialog.ok());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:32=500", "5:34=0", "5:37=10"}));
}

TEST_F(GlobalLimitsTest, KvaUnderBoxAloneWrites8) {
    openOn(kCircuitAddress);
    check(Dialog::kKvaUnderBox);
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:73=8"}));
}

TEST_F(GlobalLimitsTest, PhaseLossBoxWritesItsThreeBitsWithTheOthers) {
    sim->set(kCircuitAddress, 73, {0x11});
    openOn(kCircuitAddress);
    EXPECT_TRUE(controls.critical[Dialog::kCurrentOverBox]);
    EXPECT_TRUE(controls.critical[Dialog::kVoltageOverBox]);
    EXPECT_FALSE(controls.critical[Dialog::kPhaseLossBox]);
    check(Dialog::kPhaseLossBox);
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:73=465"}));  // 0x1C0 | 0x11
}

TEST_F(GlobalLimitsTest, AnyOnePhaseLossBitShowsTheBoxChecked) {
    sim->set(kCircuitAddress, 73, {0x80});
    openOn(kCircuitAddress);
    for (int box = 0; box < Dialog::kBoxCount; ++box) {
        EXPECT_EQ(controls.critical[static_cast<std::size_t>(box)], box == Dialog::kPhaseLossBox) << box;
    }
    // No box changed: the word stays as the meter holds it.
    EXPECT_TRUE(pressOk());
    EXPECT_TRUE(sim->writes().empty());
}

TEST_F(GlobalLimitsTest, TheFlagWordIsWrittenOnlyForAChangedBoxAndKeepsEveryOtherBit) {
    // 0x211: Current Over, Voltage Over and a bit the window does not show.
    sim->set(kCircuitAddress, 73, {0x211});
    openOn(kCircuitAddress);
    EXPECT_TRUE(pressOk());
    EXPECT_TRUE(sim->writes().empty());

    openOn(kCircuitAddress);
    check(Dialog::kCurrentOverBox, false);
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:73=528"}));  // 0x210

    // A box clicked twice is as it was: nothing to write.
    openOn(kCircuitAddress);
    check(Dialog::kKvaOverBox);
    ASSERT_FALSE(station().alarms().globalLimits.takeFields(controls));
    check(Dialog::kKvaOverBox, false);
    EXPECT_TRUE(pressOk());
    EXPECT_TRUE(sim->writes().empty());

    // One phase-loss bit of three: another box changed leaves the phase-loss bits as they are.
    sim->set(kCircuitAddress, 73, {0x80});
    openOn(kCircuitAddress);
    check(Dialog::kKvaUnderBox);
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:73=136"}));  // 0x88
    sim->set(kCircuitAddress, 73, {0x280});
    openOn(kCircuitAddress);
    check(Dialog::kPhaseLossBox, false);
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:73=512"}));  // 0x200
}

TEST_F(GlobalLimitsTest, AFlagWordThatWasNotReadIsNeverWritten) {
    sim->set(kCircuitAddress, 73, {0x11});
    for (const char* fault : {"exception", "silent"}) {
        SCOPED_TRACE(fault);
        sim->fault(kCircuitAddress, fault);
        openOn(kCircuitAddress);
        EXPECT_EQ(shown(Dialog::kVoltageOverField), "-0.01");
        EXPECT_EQ(shown(Dialog::kCurrentOverField), "-0.1");
        EXPECT_EQ(shown(Dialog::kPhaseLossField), "-1");
        for (bool box : controls.critical) EXPECT_FALSE(box);
        EXPECT_FALSE(station().alarms().globalLimits.flagsKnown());
        sim->fault(kCircuitAddress, "none");
        // Neither "OK" as it opened nor a box the operator checked writes the word.
        check(Dialog::kKvaUnderBox);
        EXPECT_TRUE(pressOk());
        EXPECT_TRUE(sim->writes().empty());
        EXPECT_EQ(sim->get(kCircuitAddress, 73, 1), (std::vector<int>{0x11}));
    }
}

TEST_F(GlobalLimitsTest, OkRightAfterOpeningSendsNothing) {
    openOn(kCircuitAddress);
    EXPECT_FALSE(station().alarms().globalLimits.ok());
    EXPECT_TRUE(sim->requests().empty());
}

TEST_F(GlobalLimitsTest, RefusedFieldsAndTheirMessages) {
    Dialog& dialog = openOn(kCircuitAddress);
    type(Dialog::kVoltageOverField, "lots");
    EXPECT_EQ(dialog.takeFields(controls), Dialog::kVoltageOverField);
    EXPECT_EQ(op.messages.back().text, "Please enter a number.");
    EXPECT_EQ(op.messages.back().caption, "");
    type(Dialog::kVoltageOverField, "-3");
    EXPECT_EQ(dialog.takeFields(controls), Dialog::kVoltageOverField);
    EXPECT_EQ(op.messages.back().text, "Please enter a number between 0 and 655.35.");
    type(Dialog::kCurrentUnderField, "70000");
    EXPECT_EQ(dialog.takeFields(controls), Dialog::kCurrentUnderField);
    EXPECT_EQ(op.messages.back().text, "Please enter a number between 0 and 6553.5.");
    type(Dialog::kCurrentUnderField, "0");
    type(Dialog::kVoltageOverField, "250");
    type(Dialog::kPhaseLossField, "65536");
    EXPECT_EQ(dialog.takeFields(controls), Dialog::kPhaseLossField);
    EXPECT_EQ(op.messages.back().text, "Please enter an integer between 0 and 65535.");
    type(Dialog::kPhaseLossField, "9.5");
    EXPECT_EQ(dialog.takeFields(controls), Dialog::kPhaseLossField);
    EXPECT_EQ(op.messages.back().text, "Please enter an integer.");

    // The take follows its order: the current edits come before the voltages.
    type(Dialog::kCurrentUnderField, "x");
    EXPECT_EQ(dialog.takeFields(controls), Dialog::kCurrentUnderField);

    EXPECT_EQ(dialog.ok(), Dialog::kCurrentUnderField);
    EXPECT_TRUE(sim->requests().empty());
    EXPECT_TRUE(station().alarms().marks.alarmWindowOpen);

    type(Dialog::kCurrentUnderField, "0");
    type(Dialog::kPhaseLossField, "6000");
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:30=25000", "5:37=6000"}));
}

TEST_F(GlobalLimitsTest, NamesComeFromTheMeterNameTexts) {
    station().meters().setNames("MAIN", "BRD1");
    openOn(kCircuitAddress);
    EXPECT_EQ(shown(Dialog::kFirstNameField), "MAIN");
    EXPECT_EQ(shown(Dialog::kSecondNameField), "BRD1");
}

TEST_F(GlobalLimitsTest, AfterTheSelectionChangesWritesGoToTheBoundMeterWithItsOwnScale) {
    sim->set(kCircuitAddress, 32, {1500});
    openOn(kCircuitAddress);
    // The operator selects the other Circuit meter; its polls bring its own scale.
    select(kOtherCircuitAddress);
    station().meters().setCurrentScale(station().meters().currentScaleAddress(), 0.01F);
    type(Dialog::kCurrentOverField, "200");
    check(Dialog::kKvaOverBox);
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:32=2000", "5:73=4"}));
    EXPECT_EQ(sim->get(kOtherCircuitAddress, 32, 1), (std::vector<int>{8000}));
}

TEST_F(GlobalLimitsTest, AScaleChangeOfTheBoundMeterWhileOpenIsUsedAtOk) {
    sim->set(kCircuitAddress, 32, {1500});
    openOn(kCircuitAddress);
    station().meters().setCurrentScale(station().meters().currentScaleAddress(), 0.01F);  // the operator changed the meter's CT size meanwhile
    type(Dialog::kCurrentOverField, "200");
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:32=20000"}));
}

}  // namespace
}  // namespace quorna::test
