// A Circuit meter's panel window against the simulator: names, CT size and meter enables.
#include "meters/main_window_fields.h"
#include "forms/panel/panel_config_dialog.h"
#include "panel_bus_fixture.h"

namespace quorna::test {
namespace {

using Writes = std::vector<SimWrite>;
using Field = PanelConfigDialog::Field;
constexpr BoxState kOn = BoxState::Checked, kOff = BoxState::Unchecked, kGray = BoxState::Indeterminate;

class PanelConfigTest : public PanelBusTest {
protected:
    MeterSimulator sim{{"--meter", "7:236", "--meter", "8:235"}};
    PanelConfigDialog& window = station().panelConfig();

    void openFor(int address, int model) {
        connect(sim);
        select(address, model);
        window.open();
        sim.clearRequests();
    }
};

TEST_F(PanelConfigTest, OpeningShowsNamesCtSizeEnablesFirmwareAndSerial) {
    connect(sim);
    sim.set(7, 44, {1, 34464});
    select(7, kCircuitMeter6);
    window.open();
    EXPECT_EQ(window.texts.firstName, "MAIN");
    EXPECT_EQ(window.texts.panelName, "MAIN");
    EXPECT_EQ(window.texts.secondName, "BRD1");
    EXPECT_EQ(window.texts.boardName, "BRD1");
    EXPECT_EQ(station().meters().fields().firstName, "MAIN");
    EXPECT_EQ(station().meters().fields().secondName, "BRD1");
    EXPECT_EQ(window.texts.ctSize, "100");
    EXPECT_EQ(window.texts.firmwareText, "Firmware V2.7");
    EXPECT_EQ(window.texts.serialText, "Serial Number - 00100000");
    EXPECT_EQ(window.boxes(), (MeterEnableBoxes{kOn, kOn, kOff, kOff, kOff, kOff, kGray, kGray}));
    EXPECT_FALSE(window.meterSelectionLocked());
    EXPECT_EQ(op.waitCursorDepth, 0);
}

TEST_F(PanelConfigTest, NameSetsWritePaddedCharactersHighByteFirst) {
    openFor(7, kCircuitMeter6);
    window.texts.panelName = "AB";
    EXPECT_EQ(window.setPanelName(), std::nullopt);
    EXPECT_EQ(sim.writes(), (Writes{{7, 38, 0x4142}, {7, 39, 0x2020}}));
    EXPECT_EQ(window.texts.firstName, "AB  ");
    EXPECT_EQ(station().meters().fields().firstName, "AB  ");

    sim.clearRequests();
    window.texts.boardName = "PNL1";
    EXPECT_EQ(window.setBoardName(), std::nullopt);
    EXPECT_EQ(sim.writes(), (Writes{{7, 40, 0x504E}, {7, 41, 0x4C31}}));
    EXPECT_EQ(sim.get(7, 38, 4), (std::vector<int>{0x4142, 0x2020, 0x504E, 0x4C31}));
    EXPECT_EQ(window.texts.secondName, "PNL1");
    EXPECT_EQ(station().meters().fields().secondName, "PNL1");

    sim.clearRequests();
    window.texts.panelName = "";
    EXPECT_EQ(window.setPanelName(), std::nullopt);
    EXPECT_EQ(sim.writes(), (Writes{{7, 38, 0x2020}, {7, 39, 0x2020}}));

    window.texts.boardName = "TOOLONG";
    EXPECT_EQ(window.setBoardName(), Field::kBoardNameField);
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Please enter no more than 4 characters."}));
}

TEST_F(PanelConfigTest, CtSizeOutsideOneTo5999IsRefusedAndValidSizeIsWritten) {
    openFor(7, kCircuitMeter6);
    window.texts.ctSize = "6000";
    EXPECT_EQ(window.setCtSize(), Field::kCtSizeField);
    window.texts.ctSize = "0";
    EXPECT_EQ(window.takeFields(), Field::kCtSizeField);
    window.texts.ctSize = "big";
    EXPECT_EQ(window.accept(), Field::kCtSizeField);
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Please enter an integer between 1 and 5999.",
                                                    "Please enter an integer between 1 and 5999.",
                                                    "Please enter an integer."}));
    // While the CT size fails, the other "SET" buttons send nothing either.
    window.texts.panelName = "AB";
    EXPECT_EQ(window.setPanelName(), Field::kCtSizeField);
    EXPECT_EQ(window.setMeterEnable(), Field::kCtSizeField);
    EXPECT_TRUE(sim.writes().empty());

    window.texts.ctSize = "5999";
    EXPECT_EQ(window.setCtSize(), std::nullopt);
    EXPECT_EQ(sim.writes(), (Writes{{7, 29, 5999}}));
    EXPECT_EQ(sim.get(7, 29, 1), (std::vector<int>{5999}));
    EXPECT_EQ(window.accept(), std::nullopt);
}

TEST_F(PanelConfigTest, CtSizeTheMeterHoldsOutsideTheRangeIsShownButNeverSent) {
    connect(sim);
    sim.set(7, 29, {6000});
    select(7, kCircuitMeter6);
    window.open();
    sim.clearRequests();
    EXPECT_EQ(window.texts.ctSize, "6000");
    EXPECT_EQ(window.accept(), std::nullopt);  // the window can still be closed
    EXPECT_EQ(window.setCtSize(), Field::kCtSizeField);
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Please enter an integer between 1 and 5999."}));
    EXPECT_TRUE(sim.writes().empty());
}

TEST_F(PanelConfigTest, LockedSelectionKeepsBoxesAndHidesTheExtraSets) {
    connect(sim);
    sim.set(8, 72, {0x8007});
    select(8, kCircuitMeter8);
    window.open();
    sim.clearRequests();
    const MeterEnableBoxes shown{kOn, kOn, kOn, kOff, kOff, kOff, kOff, kOff};
    EXPECT_EQ(window.boxes(), shown);
    EXPECT_TRUE(window.meterSelectionLocked());
    for (int box = 1; box <= 8; ++box) window.clickBox(box);
    EXPECT_EQ(window.boxes(), shown);
    window.texts.boardName = "XX";
    EXPECT_EQ(window.setBoardName(), std::nullopt);
    EXPECT_EQ(window.setMeterEnable(), std::nullopt);
    EXPECT_TRUE(sim.writes().empty());
    EXPECT_TRUE(op.messages.empty());
}

TEST_F(PanelConfigTest, SixMeterModelLeavesBoxesSevenAndEightOutOfTheWord) {
    openFor(7, kCircuitMeter6);
    window.clickBox(7);
    window.clickBox(8);
    EXPECT_EQ(window.boxes()[6], kGray);
    EXPECT_EQ(window.boxes()[7], kGray);
    for (int box = 3; box <= 6; ++box) window.clickBox(box);  // 2 is already on
    window.clickBox(1);
    EXPECT_EQ(window.boxes(), (MeterEnableBoxes{kOn, kOn, kOn, kOn, kOn, kOn, kGray, kGray}));
    EXPECT_EQ(window.setMeterEnable(), std::nullopt);
    EXPECT_EQ(sim.writes(), (Writes{{7, 72, 0x3F}}));
    ASSERT_EQ(op.messages.size(), 1U);
    EXPECT_EQ(op.messages[0].text,
              "When using a network display, you should perform a\r\n'FIND METERS' operation at the display after "
              "changing meter selection\r\nsettings.  Otherwise, comms failures may occur.");
    EXPECT_EQ(op.messages[0].caption, "");
    EXPECT_EQ(op.waitCursorDepth, 0);
    // The window read the word back.
    EXPECT_EQ(reads(sim).back(), (ReadRequest{7, 72, 1}));
}

TEST_F(PanelConfigTest, EightMeterModelSendsBoxesSevenAndEight) {
    openFor(8, kCircuitMeter8);  // the meter holds 0x0007: boxes 1 to 3
    window.clickBox(3);
    window.clickBox(8);
    EXPECT_EQ(window.boxes(), (MeterEnableBoxes{kOn, kOn, kOff, kOff, kOff, kOff, kOff, kOn}));
    EXPECT_EQ(window.setMeterEnable(), std::nullopt);
    EXPECT_EQ(sim.writes(), (Writes{{8, 72, 0x83}}));
    EXPECT_EQ(window.boxes(), (MeterEnableBoxes{kOn, kOn, kOff, kOff, kOff, kOff, kOff, kOn}));
}

TEST_F(PanelConfigTest, FailedReadsShowNothingAsTheMetersAndNothingDerivedFromThemIsSent) {
    connect(sim);
    sim.set(7, 72, {0x803F});  // a locked meter with meters 1 to 6 enabled
    sim.fault(7, "exception");
    select(7, kCircuitMeter6);
    station().meters().setFirstName("MAIN");
    window.open();
    EXPECT_EQ(window.texts.firmwareText, "Firmware V0.0");
    EXPECT_EQ(window.texts.serialText, "Serial Number - 00000000");
    EXPECT_EQ(window.texts.ctSize, "");  // not the initial 100
    EXPECT_EQ(window.texts.firstName, "MAIN");
    EXPECT_TRUE(window.meterSelectionLocked());
    EXPECT_FALSE(window.enableWordKnown());
    EXPECT_EQ(window.boxes(), (MeterEnableBoxes{kOn, kOff, kOff, kOff, kOff, kOff, kGray, kGray}));
    sim.fault(7, "none");
    sim.clearRequests();
    window.clickBox(3);
    EXPECT_EQ(window.boxes()[2], kOff);
    EXPECT_EQ(window.setMeterEnable(), std::nullopt);
    EXPECT_EQ(window.setBoardName(), std::nullopt);
    EXPECT_EQ(window.setCtSize(), Field::kCtSizeField);  // an empty CT size is no size
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Please enter an integer."}));
    EXPECT_TRUE(sim.writes().empty());
    EXPECT_EQ(sim.get(7, 72, 1), (std::vector<int>{0x803F}));
    EXPECT_EQ(window.accept(), std::nullopt);  // the empty field passes while it stays empty
    // A size the operator enters is sent.
    window.texts.ctSize = "200";
    EXPECT_EQ(window.setCtSize(), std::nullopt);
    EXPECT_EQ(sim.writes(), (Writes{{7, 29, 200}}));

    // A meter that stops answering after a "SET": its refresh shows the locked form and no CT size.
    sim.set(7, 72, {0x0003});
    window.open();
    ASSERT_FALSE(window.meterSelectionLocked());
    ASSERT_EQ(window.texts.ctSize, "200");
    sim.fault(7, "silent");
    window.clickBox(4);
    EXPECT_EQ(window.setMeterEnable(), std::nullopt);
    EXPECT_EQ(window.texts.firstName, "MAIN");
    EXPECT_EQ(window.texts.ctSize, "");
    EXPECT_TRUE(window.meterSelectionLocked());
    EXPECT_EQ(window.boxes(), (MeterEnableBoxes{kOn, kOff, kOff, kOff, kOff, kOff, kGray, kGray}));
    sim.fault(7, "none");
    sim.clearRequests();
    window.clickBox(2);
    EXPECT_EQ(window.setMeterEnable(), std::nullopt);
    EXPECT_TRUE(sim.writes().empty());
}

TEST_F(PanelConfigTest, ANameWriteTheMeterRefusesIsTold) {
    openFor(7, kCircuitMeter6);
    // The second register refuses: the name is written only in part.
    sim.fault(7, "exception 39");
    window.texts.panelName = "AB";
    EXPECT_EQ(window.setPanelName(), std::nullopt);
    EXPECT_EQ(sim.writes(), (Writes{{7, 38, 0x4142}, {7, 39, 0x2020}}));
    // A write's exception answer is shorter than the echo the master waits for: code 3.
    ASSERT_EQ(op.messages.size(), 1U);
    EXPECT_EQ(op.messages[0].text,
              "Device at address [7] write failure - error code [3]: only the first two characters of the name were written");
    EXPECT_EQ(op.messages[0].caption, "Communication Failure");
    EXPECT_EQ(sim.get(7, 38, 2), (std::vector<int>{0x4142, 0x494E}));  // "AB" and the old "IN"
    EXPECT_EQ(window.texts.firstName, "ABIN");

    // The first register refuses: the second is not sent, the name stays as it was.
    sim.fault(7, "exception 40");
    sim.clearRequests();
    window.texts.boardName = "PNL1";
    EXPECT_EQ(window.setBoardName(), std::nullopt);
    EXPECT_EQ(sim.writes(), (Writes{{7, 40, 0x504E}}));
    ASSERT_EQ(op.messages.size(), 2U);
    EXPECT_EQ(op.messages[1].text, "Device at address [7] write failure - error code [3]");
    EXPECT_EQ(op.messages[1].caption, "Communication Failure");
    EXPECT_EQ(window.texts.secondName, "BRD1");
}

TEST_F(PanelConfigTest, WindowStaysWithTheMeterAndModelItOpenedFor) {
    openFor(8, kCircuitMeter8);
    station().meters().setFirstName("OTHR");
    select(7, kCircuitMeter6);  // picked in the main window while the window is open
    window.clickBox(8);
    window.texts.ctSize = "200";
    window.texts.panelName = "NEW";
    EXPECT_EQ(window.setCtSize(), std::nullopt);
    EXPECT_EQ(window.setPanelName(), std::nullopt);
    EXPECT_EQ(window.setMeterEnable(), std::nullopt);
    EXPECT_EQ(sim.writes(), (Writes{{8, 29, 200}, {8, 38, 0x4E45}, {8, 39, 0x5720}, {8, 72, 0x87}}));
    for (const auto& r : reads(sim)) EXPECT_EQ(r.address, 8);
    EXPECT_EQ(sim.get(7, 29, 1), (std::vector<int>{100}));
    EXPECT_EQ(station().meters().fields().firstName, "OTHR");
}

TEST_F(PanelConfigTest, OpenerGuardsAndChoosesTheWindowByTheDirectory) {
    EXPECT_EQ(choosePanelWindow(station().meters()), PanelWindow::None);
    station().meters().setSelected(SelectedMeter{0, station().meters().selected().model});
    EXPECT_EQ(choosePanelWindow(station().meters()), PanelWindow::None);
    EXPECT_EQ(op.messages.size(), 2U);
    for (const auto& m : op.messages) {
        EXPECT_EQ(m.text, "You must select a valid meter before attempting to configure it!");
        EXPECT_EQ(m.caption, "");
    }
    select(3, kBranchMeter);
    EXPECT_EQ(choosePanelWindow(station().meters()), PanelWindow::PanelSetup);
    select(7, kCircuitMeter6);
    EXPECT_EQ(choosePanelWindow(station().meters()), PanelWindow::PanelConfig);
    select(9, kNoModel);
    EXPECT_EQ(choosePanelWindow(station().meters()), PanelWindow::PanelConfig);
    EXPECT_EQ(op.messages.size(), 2U);
}

}  // namespace
}  // namespace quorna::test
