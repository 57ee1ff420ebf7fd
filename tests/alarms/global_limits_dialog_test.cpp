// The Circuit meter's "Alarm Setup" window: limits in volts, amperes and KVA, the "Critical" flags.

#include "alarm_bus_fixture.h"

namespace quorna::test {
namespace {

using Dialog = GlobalLimitsDialog;

class GlobalLimitsTest : public AlarmBusTest {
protected:
    void SetUp() override {
        AlarmBusTest::SetUp();
        station().meters.CurrentScale = 0.1F;
        // Only what each test stores: limits and flags of zero.
        sim->set(kCircuitAddress, 30, {0, 0, 0, 0, 0, 0, 0, 0});
        sim->set(kCircuitAddress, 73, {0});
    }

    Dialog& openOn(int address) {
        select(address);
        EXPECT_EQ(station().alarms.openAlarmSetup(), AlarmSetupWindow::GlobalLimits);
        sim->clearRequests();
        controls = station().alarms.globalLimits.showFields();
        return station().alarms.globalLimits;
    }

    void type(int field, const std::string& text) { controls.texts[static_cast<std::size_t>(field)] = text; }
    const std::string& shown(int field) const { return controls.texts[static_cast<std::size_t>(field)]; }
    void check(int box, bool on = true) { controls.critical[static_cast<std::size_t>(box)] = on; }

    // Takes the fields and presses "OK"; true when the window closed.
    bool pressOk() {
        Dialog& dialog = station().alarms.globalLimits;
        if (dialog.takeFields(controls)) return false;
        return !dialog.ok();
    }

    Dialog::Controls controls;
};

TEST_F(GlobalLimitsTest, ReadsTheLimitBlockAndTheFlagWord) {
    select(kCircuitAddress);
    ASSERT_EQ(station().alarms.openAlarmSetup(), AlarmSetupWindow::GlobalLimits);
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
    EXPECT_FALSE(station().alarms.marks.alarmWindowOpen);
}

TEST_F(GlobalLimitsTest, LimitsShowUpToSixSignificantDigits) {
    sim->set(kCircuitAddress, 30, {27701, 12345, 1234, 5, 65535, 7, 0, 90});
    station().meters.CurrentScale = 0.01F;
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

TEST_F(GlobalLimitsTest, LimitsThatDoNotFitARegisterAreNotSent) {
    openOn(kCircuitAddress);
    type(Dialog::kVoltageOverField, "700");  // 70000 counts
    type(Dialog::kKvaOverField, "6553.6");   // 65536 counts at 0.1
    type(Dialog::kPhaseLossField, "95");
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:37=95"}));
    EXPECT_EQ(sim->get(kCircuitAddress, 30, 1), (std::vector<int>{0}));
}

TEST_F(GlobalLimitsTest, WithoutACurrentScaleCurrentAndKvaAreNotSent) {
    station().meters.CurrentScale = 0.0F;
    openOn(kCircuitAddress);
    type(Dialog::kCurrentOverField, "200");
    type(Dialog::kKvaUnderField, "3");
    type(Dialog::kVoltageOverField, "250");
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:30=25000"}));
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
    // The box stands for all three bits: "OK" sets the two the meter did not have.
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:73=448"}));
}

TEST_F(GlobalLimitsTest, FailedReadsShowTheFailureValuesAndOkRewritesTheFlagWord) {
    sim->fault(kCircuitAddress, "exception");
    openOn(kCircuitAddress);
    EXPECT_EQ(shown(Dialog::kVoltageOverField), "-0.01");
    EXPECT_EQ(shown(Dialog::kCurrentOverField), "-0.1");
    EXPECT_EQ(shown(Dialog::kPhaseLossField), "-1");
    EXPECT_TRUE(controls.critical[Dialog::kCurrentOverBox]);
    EXPECT_TRUE(controls.critical[Dialog::kPhaseLossBox]);
    EXPECT_FALSE(controls.critical[Dialog::kVoltageOverBox]);
    EXPECT_EQ(station().alarms.globalLimits.snapshot().flags, 0x01010101);
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:73=449"}));  // 0x1C0 | 0x01
}

TEST_F(GlobalLimitsTest, OkRightAfterOpeningSendsNothing) {
    openOn(kCircuitAddress);
    EXPECT_FALSE(station().alarms.globalLimits.ok());
    EXPECT_TRUE(sim->requests().empty());
}

TEST_F(GlobalLimitsTest, RefusedFieldsAndTheirMessages) {
    Dialog& dialog = openOn(kCircuitAddress);
    type(Dialog::kVoltageOverField, "lots");
    EXPECT_EQ(dialog.takeFields(controls), Dialog::kVoltageOverField);
    EXPECT_EQ(op.messages.back().text, "Please enter a number.");
    EXPECT_EQ(op.messages.back().caption, "");
    type(Dialog::kVoltageOverField, "70000");
    EXPECT_EQ(dialog.takeFields(controls), Dialog::kVoltageOverField);
    EXPECT_EQ(op.messages.back().text, "Please enter a number between 0 and 65535.");
    type(Dialog::kVoltageOverField, "-3");
    EXPECT_EQ(dialog.takeFields(controls), Dialog::kVoltageOverField);
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
    EXPECT_TRUE(station().alarms.marks.alarmWindowOpen);

    type(Dialog::kCurrentUnderField, "0");
    type(Dialog::kPhaseLossField, "6000");
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:30=25000", "5:37=6000"}));
}

TEST_F(GlobalLimitsTest, NamesComeFromTheMeterNameTexts) {
    station().meters.fields.firstName = "MAIN";
    station().meters.fields.secondName = "BRD1";
    openOn(kCircuitAddress);
    EXPECT_EQ(shown(Dialog::kFirstNameField), "MAIN");
    EXPECT_EQ(shown(Dialog::kSecondNameField), "BRD1");
}

TEST_F(GlobalLimitsTest, AfterTheSelectionChangesWritesGoToTheBoundMeterWithItsOwnScale) {
    sim->set(kCircuitAddress, 32, {1500});
    openOn(kCircuitAddress);
    // The operator selects the other Circuit meter; its polls bring its own scale.
    select(kOtherCircuitAddress);
    station().meters.CurrentScale = 0.01F;
    type(Dialog::kCurrentOverField, "200");
    check(Dialog::kKvaOverBox);
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:32=2000", "5:73=4"}));
    EXPECT_EQ(sim->get(kOtherCircuitAddress, 32, 1), (std::vector<int>{8000}));
}

TEST_F(GlobalLimitsTest, AScaleChangeOfTheBoundMeterWhileOpenIsUsedAtOk) {
    sim->set(kCircuitAddress, 32, {1500});
    openOn(kCircuitAddress);
    station().meters.CurrentScale = 0.01F;  // the operator changed the meter's CT size meanwhile
    type(Dialog::kCurrentOverField, "200");
    EXPECT_TRUE(pressOk());
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:32=20000"}));
}

}  // namespace
}  // namespace quorna::test
