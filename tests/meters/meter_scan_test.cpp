// The bus scan and the operator's choice in the meter list, against simulated meters.

#include "meters/meter_scan.h"

#include <ctime>
#include <filesystem>
#include <fstream>

#include "meters/main_window_fields.h"
#include "meter_bus_fixture.h"
#include "meters/meter_list.h"
#include "meters/meter_model.h"
#include "meters/meters.h"
#include "meters/polling_cycle.h"
#include "settings/configuration.h"

namespace quorna::test {
namespace {

using MeterScanTest = MeterBusTest;

TEST_F(MeterScanTest, ListsBranchAndCircuitMetersAndSelectsTheFirst) {
    auto& sim = startBus({"2:600", "3:230", "7:236"});
    sim.command("name 3 PNL1");
    sim.command("name 7 MAIN");
    std::vector<std::string> progress;
    op.onRepaint = [&] {
        if (!station().meters.list.entries.empty() && (progress.empty() || progress.back() != station().meters.list.entries[0])) {
            progress.push_back(station().meters.list.entries[0]);
        }
    };
    station().meters.fields.layout = Layout::CircuitView;

    MeterScan(station().meters);

    // The progress line advanced before every probe, then went away.
    ASSERT_GE(progress.size(), 17U);
    EXPECT_EQ(progress[0], "Searching...");
    EXPECT_EQ(progress[1], "Searching: 1 of 16");
    EXPECT_EQ(progress[16], "Searching: 16 of 16");
    EXPECT_GE(op.repaints, 17);

    const auto& entries = station().meters.list.entries;
    ASSERT_EQ(entries.size(), 2U);
    EXPECT_EQ(entries[0].substr(0, 12), "03 - PNL1 [T");
    EXPECT_NE(entries[0].find("Tamsa"), std::string::npos);
    EXPECT_EQ(modelFromDeviceText(entries[0]), kBranchMeter);
    EXPECT_EQ(entries[1].substr(0, 10), "07 - MAIN ");
    EXPECT_EQ(modelFromDeviceText(entries[1]), kCircuitMeter6);
    EXPECT_EQ(entries[0].back(), ']');
    EXPECT_EQ(station().meters.list.selection, 0);
    EXPECT_EQ(station().meters.selected.address, 3);
    EXPECT_EQ(station().meters.selected.model, kBranchMeter);
    EXPECT_EQ(op.layouts, (std::vector<Layout>{Layout::BranchView}));
    EXPECT_EQ(station().meters.fields.layout, Layout::BranchView);

    // The temperature meter answered and is known, but not listed.
    EXPECT_NE(station().meters.directory[2], 0);  // its slave ID byte
    EXPECT_EQ(station().meters.directory[3], 230);
    EXPECT_EQ(station().meters.directory[7], 236);
    EXPECT_TRUE(op.messages.empty());
    EXPECT_EQ(op.waitCursorShows, 1);
    EXPECT_EQ(op.waitCursorDepth, 0);
    EXPECT_FALSE(station().meters.scanning);

    // Every address up to the depth was asked once for its slave ID, in order.
    std::vector<int> probed;
    for (const auto& r : sim.requests()) {
        if (functionOf(r) == 17) probed.push_back(addressOf(r));
    }
    ASSERT_EQ(probed.size(), 16U);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(probed[static_cast<std::size_t>(i)], i + 1);

    // The operator picks the Circuit meter, then the Branch meter again.
    station().meters.list.selection = 1;
    selectMeter(station().meters);
    EXPECT_EQ(station().meters.selected.address, 7);
    EXPECT_EQ(station().meters.selected.model, kCircuitMeter6);
    EXPECT_EQ(station().meters.fields.layout, Layout::CircuitView);
    station().meters.list.selection = 0;
    selectMeter(station().meters);
    EXPECT_EQ(station().meters.selected.address, 3);
    EXPECT_EQ(station().meters.fields.layout, Layout::BranchView);

    // No selection: nothing is polled any more, the model stays.
    station().meters.list.selection = -1;
    selectMeter(station().meters);
    EXPECT_EQ(station().meters.selected.address, -1);
    EXPECT_EQ(station().meters.selected.model, kBranchMeter);
}

TEST_F(MeterScanTest, FirstCircuitMeterSwitchesToTheCircuitLayout) {
    startBus({"9:235", "12:230"});
    station().settings.scanDepth = 12;
    MeterScan(station().meters);
    ASSERT_EQ(station().meters.list.count(), 2);
    EXPECT_EQ(station().meters.selected.address, 9);
    EXPECT_EQ(station().meters.selected.model, kCircuitMeter8);
    EXPECT_EQ(op.layouts, (std::vector<Layout>{Layout::CircuitView}));
}

TEST_F(MeterScanTest, SilentBusLeavesTheSelectionAsItWas) {
    auto& sim = startBus({"200:230"});  // beyond the scan depth: the bus answers nothing
    station().settings.scanDepth = 3;
    station().meters.selected = SelectedMeter{5, kBranchMeter};
    station().meters.list.insert(0, "05 - OLD [Tamsa Branch]");

    MeterScan(station().meters);

    EXPECT_TRUE(station().meters.list.entries.empty());
    EXPECT_EQ(station().meters.list.selection, -1);
    EXPECT_EQ(station().meters.selected.address, 5);
    EXPECT_EQ(station().meters.selected.model, kBranchMeter);
    EXPECT_TRUE(op.layouts.empty());
    EXPECT_TRUE(op.messages.empty());
    EXPECT_EQ(sim.requests().size(), 3U);
}

TEST_F(MeterScanTest, ScanDepthIsReadAgainBeforeEveryAddress) {
    auto& sim = startBus({"200:230"});  // beyond the scan depth: the bus answers nothing
    station().settings.scanDepth = 10;
    op.onRepaint = [&] {
        if (!station().meters.list.entries.empty() && station().meters.list.entries[0] == "Searching: 2 of 10") station().settings.scanDepth = 3;
    };
    MeterScan(station().meters);
    EXPECT_EQ(sim.requests().size(), 3U);
}

// Every address the scan may list is polled when picked and logged at every moment.
TEST_F(MeterScanTest, AMeterAboveSixtyThreeIsPolledPickedAndLogged) {
    std::vector<std::string> meters;
    // Temperature meters answer fast at 1 to 69 and are not listed; the Branch meter sits at 70.
    for (int a = 1; a < 70; ++a) meters.push_back(std::to_string(a) + ":600");
    meters.push_back("70:230");
    auto& sim = startBus(meters);
    sim.set(70, 0, {1500});
    station().settings.scanDepth = 70;

    MeterScan(station().meters);

    ASSERT_EQ(station().meters.list.count(), 1);
    EXPECT_EQ(station().meters.list.entries[0].substr(0, 5), "70 - ");
    EXPECT_EQ(station().meters.selected.address, 70);

    station().meters.list.selection = 0;
    selectMeter(station().meters);
    EXPECT_EQ(station().meters.selected.address, 70);
    EXPECT_EQ(station().meters.selected.model, kBranchMeter);

    const std::filesystem::path log = std::filesystem::path(sim.tempDir()) / "readings.csv";
    station().settings.logFilePath = log.string();
    station().settings.fileLoggingEnabled = true;
    station().logging.useClock([] { return std::time_t{1'700'000'000}; });
    sim.clearRequests();
    station().PollingCycle();
    const auto requests = sim.requests();
    ASSERT_GE(requests.size(), 2U);
    EXPECT_EQ(addressOf(requests[0]), 70);  // the poll
    EXPECT_EQ(readCountOf(requests[0]), 49);
    EXPECT_EQ(addressOf(requests[1]), 70);  // the logging moment
    std::ifstream in(log);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line.substr(19, 10), ",70,1.500,") << line;
}

TEST_F(MeterScanTest, EntryWithoutLeadingDigitsSelectsNothing) {
    station().meters.directory[3] = kBranchMeter;
    station().meters.fields.layout = Layout::CircuitView;
    station().meters.list.insert(0, "Searching: 3 of 16");
    station().meters.list.selection = 0;
    station().meters.selected = SelectedMeter{3, kBranchMeter};
    selectMeter(station().meters);
    EXPECT_EQ(station().meters.selected.address, -1);
    EXPECT_EQ(station().meters.selected.model, kNoModel);
    EXPECT_TRUE(op.layouts.empty());
}

TEST_F(MeterScanTest, PickingAMeterOfAnotherModelKeepsTheLayout) {
    station().meters.directory[4] = kTemperatureMeter;
    station().meters.fields.layout = Layout::CircuitView;
    station().meters.list.insert(0, "04 - T1 [Tamsa Temperature]");
    station().meters.list.selection = 0;
    selectMeter(station().meters);
    EXPECT_EQ(station().meters.selected.address, 4);
    EXPECT_TRUE(op.layouts.empty());
    EXPECT_EQ(station().meters.fields.layout, Layout::CircuitView);
}

TEST_F(MeterScanTest, BrokenAnswersAreReportedPerAddressAndTheScanGoesOn) {
    auto& sim = startBus({"2:230", "3:230"});
    station().settings.scanDepth = 3;
    sim.fault(2, "badcrc");
    MeterScan(station().meters);
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Address [2] Returned Error Code [5]."}));
    EXPECT_EQ(op.messages[0].caption, "Com port failure");
    ASSERT_EQ(station().meters.list.count(), 1);
    EXPECT_EQ(station().meters.selected.address, 3);
}

TEST_F(MeterScanTest, AnAnswerTooShortForASlaveIdNamesThePortAndEndsTheScan) {
    // A Modbus exception reply (5 bytes) to the slave-ID request has the wrong number of bytes.
    auto& sim = startBus({"1:230", "2:230", "3:230"});
    station().settings.scanDepth = 3;
    sim.fault(2, "exception");
    MeterScan(station().meters);
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Comm port COM1: not properly opened."}));
    EXPECT_EQ(op.messages[0].caption, "Com port failure");
    std::vector<int> probed;
    for (const auto& r : sim.requests()) {
        if (functionOf(r) == 17) probed.push_back(addressOf(r));
    }
    EXPECT_EQ(probed, (std::vector<int>{1, 2})) << "address 3 is not asked any more";
    ASSERT_EQ(station().meters.list.count(), 1);
    EXPECT_EQ(station().meters.list.entries[0].substr(0, 5), "01 - ");
    EXPECT_EQ(station().meters.selected.address, 1);
    EXPECT_FALSE(station().meters.scanning);
}

TEST_F(MeterScanTest, ScanWithClosedPortTriesOneOpenThenAsksForAPort) {
    setenv("QUORNA_COM3", "/nonexistent/quorna-no-port", 1);
    station().bus.link.portName = "COM3:";
    MeterScan(station().meters);
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Unable to open COM3:", "Please select a COM port"}));
    EXPECT_EQ(op.messages[1].caption, "");
    EXPECT_FALSE(station().meters.scanning);

    // After two failed opens the scan tries nothing more.
    op.messages.clear();
    station().bus.link.openFailures = 2;
    MeterScan(station().meters);
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Please select a COM port"}));
    EXPECT_EQ(op.waitCursorShows, 0);
    unsetenv("QUORNA_COM3");
}

TEST_F(MeterScanTest, AScanAskedForWhileOneRunsFollowsItAndACancelEndsBoth) {
    auto& sim = startBus({"3:230"});
    station().settings.scanDepth = 2;
    station().scan();
    EXPECT_TRUE(station().scanStep());  // address 1
    station().scan();                   // Find Meters again, between two steps
    while (station().scanStep()) {
    }
    EXPECT_EQ(sim.requests().size(), 4U) << "addresses 1 and 2, then the second scan's 1 and 2";
    EXPECT_TRUE(station().meters.list.entries.empty()) << "meter 3 lies beyond the depth; the progress line is gone";
    EXPECT_EQ(op.waitCursorDepth, 0);

    station().scan();
    EXPECT_TRUE(station().scanStep());
    station().scan();
    station().cancelScan();  // the port changes, or the program ends
    EXPECT_FALSE(station().scanning());
    EXPECT_FALSE(station().scanStep()) << "the queued scan went with the cancelled one";
    EXPECT_EQ(sim.requests().size(), 5U);
    EXPECT_TRUE(station().meters.list.entries.empty()) << "no progress line is left behind";
    EXPECT_EQ(op.waitCursorDepth, 0);
}

}  // namespace
}  // namespace quorna::test
