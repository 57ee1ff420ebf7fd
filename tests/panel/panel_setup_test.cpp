// The Branch meter's panel window against the simulator: which registers each button writes.
#include "meters/main_window_fields.h"
#include "forms/panel/panel_fields.h"
#include "forms/panel/panel_setup_dialog.h"
#include "panel_bus_fixture.h"

namespace quorna::test {
namespace {

using Writes = std::vector<SimWrite>;
constexpr std::nullopt_t kNoField = std::nullopt;  // every field passed

class PanelSetupTest : public PanelBusTest {
protected:
    MeterSimulator sim{{"--meter", "3:230", "--meter", "4:230"}};
    PanelSetupDialog& window = station().panelSetup();

    void openFor(int address) {
        connect(sim);
        select(address, kBranchMeter);
        window.open();
        sim.clearRequests();
    }
};

TEST_F(PanelSetupTest, OkWritesOnlyTheChangedRatingsInRegisterOrder) {
    openFor(3);
    window.texts.rating[4] = "30";
    EXPECT_EQ(window.accept(), kNoField);
    EXPECT_EQ(sim.writes(), (Writes{{3, 55, 30}}));
    EXPECT_EQ(sim.get(3, 55, 1), (std::vector<int>{30}));

    openFor(3);
    window.texts.rating[41] = "45";
    window.texts.rating[0] = "11";
    EXPECT_EQ(window.accept(), kNoField);
    EXPECT_EQ(sim.writes(), (Writes{{3, 51, 11}, {3, 92, 45}}));
    EXPECT_TRUE(op.messages.empty());
}

TEST_F(PanelSetupTest, OpeningShowsRatingsNameFirmwareAndSerial) {
    connect(sim);
    sim.set(3, 51, {10, 50});
    sim.set(3, 261, {1, 34464});
    station().meters().setFirstName("PNL1");
    select(3, kBranchMeter);
    window.open();
    EXPECT_EQ(window.texts.rating[0], "10");
    EXPECT_EQ(window.texts.rating[1], "50");
    EXPECT_EQ(window.texts.rating[2], "20");
    EXPECT_EQ(window.texts.firstName, "PNL1");
    EXPECT_EQ(window.texts.panelName, "PNL1");
    EXPECT_EQ(window.texts.firmwareText, "Firmware V3.12");
    EXPECT_EQ(window.texts.serialText, "Serial Number - 00100000");
    EXPECT_EQ(window.texts.globalRating, "20");
    EXPECT_EQ(op.waitCursorDepth, 0);
}

TEST_F(PanelSetupTest, GlobalRatingSetWritesThenReadsTheRatingsBack) {
    openFor(3);
    window.texts.rating[7] = "33";  // an unsent edit, replaced by what the meter now holds
    window.texts.globalRating = "40";
    EXPECT_EQ(window.setGlobalRating(), kNoField);
    EXPECT_EQ(sim.writes(), (Writes{{3, 267, 40}}));
    const auto r = reads(sim);
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r.back(), (ReadRequest{3, 51, 42}));
    for (const std::string& text : window.texts.rating) EXPECT_EQ(text, "40");
    EXPECT_EQ(window.texts.globalRating, "40");

    // The ratings now equal their snapshot: "OK" writes nothing.
    sim.clearRequests();
    EXPECT_EQ(window.accept(), kNoField);
    EXPECT_TRUE(sim.writes().empty());
}

TEST_F(PanelSetupTest, OutOfRangeOrGarbageRatingsAreRefusedAndNothingIsSent) {
    openFor(3);
    window.texts.rating[2] = "9";
    EXPECT_EQ(window.takeFields(), 2);
    window.texts.rating[2] = "51";
    EXPECT_EQ(window.accept(), 2);
    window.texts.rating[2] = "3x";
    EXPECT_EQ(window.takeFields(), 2);
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Please enter an integer between 10 and 50.",
                                                    "Please enter an integer between 10 and 50.",
                                                    "Please enter an integer."}));
    for (const auto& m : op.messages) EXPECT_EQ(m.caption, "");

    // While the field fails, neither "SET" nor "OK" sends anything; each shows the message again.
    window.texts.rating[2] = "51";
    window.texts.globalRating = "40";
    window.texts.panelName = "AB";
    op.messages.clear();
    EXPECT_EQ(window.setGlobalRating(), 2);
    EXPECT_EQ(window.setPanelName(), 2);
    EXPECT_EQ(window.accept(), 2);
    EXPECT_EQ(op.messages.size(), 3U);
    EXPECT_TRUE(sim.writes().empty());

    // Global rating and name have their own limits.
    window.texts.rating[2] = "50";
    window.texts.globalRating = "51";
    EXPECT_EQ(window.takeFields(), PanelSetupDialog::kGlobalRatingField);
    window.texts.globalRating = "10";
    window.texts.panelName = "ABCDE";
    EXPECT_EQ(window.takeFields(), PanelSetupDialog::kPanelNameField);
    EXPECT_EQ(op.texts().back(), "Please enter no more than 4 characters.");
    EXPECT_TRUE(sim.writes().empty());
}

TEST_F(PanelSetupTest, SilentMeterShowsFailureValuesAndOkWritesNothing) {
    connect(sim);
    sim.fault(3, "silent");
    select(3, kBranchMeter);
    window.open();
    for (const std::string& text : window.texts.rating) EXPECT_EQ(text, "-1");
    EXPECT_EQ(window.texts.firmwareText, "Firmware V0.0");
    EXPECT_EQ(window.texts.serialText, "Serial Number - 00000000");
    sim.clearRequests();
    EXPECT_EQ(window.accept(), kNoField);
    EXPECT_TRUE(sim.writes().empty());
    EXPECT_TRUE(op.messages.empty());
}

TEST_F(PanelSetupTest, PanelNameSetWritesFourPaddedCharactersAndReadsThemBack) {
    openFor(3);
    window.texts.panelName = "AB";
    EXPECT_EQ(window.setPanelName(), kNoField);
    EXPECT_EQ(sim.writes(), (Writes{{3, 273, 0x4142}, {3, 274, 0x2020}}));
    EXPECT_EQ(sim.get(3, 273, 2), (std::vector<int>{0x4142, 0x2020}));
    EXPECT_EQ(window.texts.firstName, "AB  ");
    EXPECT_EQ(window.texts.panelName, "AB  ");
    EXPECT_EQ(station().meters().fields().firstName, "AB  ");

    sim.clearRequests();
    window.texts.panelName = "";
    EXPECT_EQ(window.setPanelName(), kNoField);
    EXPECT_EQ(sim.writes(), (Writes{{3, 273, 0x2020}, {3, 274, 0x2020}}));
}

TEST_F(PanelSetupTest, APanelNameWrittenOnlyInPartIsTold) {
    openFor(3);
    sim.set(3, 273, {0x5858, 0x5858});  // "XXXX"
    sim.fault(3, "exception 274");
    window.texts.panelName = "AB";
    EXPECT_EQ(window.setPanelName(), kNoField);
    EXPECT_EQ(sim.get(3, 273, 2), (std::vector<int>{0x4142, 0x5858}));
    // A write's exception answer is shorter than the echo the master waits for: code 3.
    ASSERT_EQ(op.messages.size(), 1U);
    EXPECT_EQ(op.messages[0].text,
              "Device at address [3] write failure - error code [3]: only the first two characters of the name were written");
    EXPECT_EQ(op.messages[0].caption, "Communication Failure");
    EXPECT_EQ(window.texts.firstName, "ABXX");
}

TEST_F(PanelSetupTest, GlobalRatingIsKeptBetweenOpenings) {
    openFor(3);
    window.texts.globalRating = "35";
    EXPECT_EQ(window.takeFields(), kNoField);
    window.open();
    EXPECT_EQ(window.texts.globalRating, "35");
    EXPECT_EQ(window.globalRating(), 35);
}

TEST_F(PanelSetupTest, WindowStaysWithTheMeterItOpenedFor) {
    openFor(3);
    station().meters().setFirstName("M4");
    select(4, kBranchMeter);  // the operator picks another meter while the window is open
    window.texts.panelName = "XY";
    EXPECT_EQ(window.setPanelName(), kNoField);
    window.texts.rating[4] = "30";
    EXPECT_EQ(window.accept(), kNoField);
    for (const SimWrite& w : sim.writes()) EXPECT_EQ(w.address, 3);
    EXPECT_EQ(sim.writes().size(), 3U);
    for (const auto& r : reads(sim)) EXPECT_EQ(r.address, 3);
    EXPECT_EQ(sim.get(4, 55, 1), (std::vector<int>{20}));
    EXPECT_EQ(sim.get(4, 273, 2), (std::vector<int>{0x504E, 0x4C31}));  // still "PNL1"
    EXPECT_EQ(station().meters().fields().firstName, "M4");  // the main window keeps the selected meter's name
}

}  // namespace
}  // namespace quorna::test
