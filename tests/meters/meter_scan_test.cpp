// The bus scan and the operator's choice in the meter list, against simulated meters.

#include "meters/meter_scan.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "bus/modbus_master.h"
#include "meters/main_window_fields.h"
#include "meter_bus_fixture.h"
#include "meters/meter_list.h"
#include "meters/meter_model.h"
#include "meters/meters.h"
#include "meters/polling_cycle.h"
#include "meters/register_map.h"
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
        const MeterList& list = station().meters().list();
        if (list.searching() && (progress.empty() || progress.back() != progressText(list.progress()))) {
            progress.push_back(progressText(list.progress()));
        }
    };
    station().meters().setLayout(Layout::CircuitView);

    MeterScan(station().meters());

    // The progress line advanced before every probe, then went away.
    ASSERT_GE(progress.size(), 17U);
    EXPECT_EQ(progress[0], "Searching...");
    EXPECT_EQ(progress[1], "Searching: 1 of 16");
    EXPECT_EQ(progress[16], "Searching: 16 of 16");
    EXPECT_GE(op.repaints, 17);

    EXPECT_FALSE(station().meters().list().searching());
    const auto& entries = station().meters().list().entries();
    ASSERT_EQ(entries.size(), 2U);
    EXPECT_EQ(entries[0].address, 3);
    EXPECT_EQ(entries[0].name, "PNL1");
    EXPECT_EQ(entries[0].deviceText.substr(0, 6), "Tamsa ");
    EXPECT_EQ(entries[0].model, kBranchMeter);
    EXPECT_EQ(entryText(entries[0]), "03 - PNL1 [" + entries[0].deviceText + "]");
    EXPECT_EQ(entryText(entries[1]).substr(0, 10), "07 - MAIN ");
    EXPECT_EQ(entries[1].model, kCircuitMeter6);
    EXPECT_EQ(station().meters().list().selection(), 0);
    EXPECT_EQ(station().meters().selected().address, 3);
    EXPECT_EQ(station().meters().selected().model, kBranchMeter);
    EXPECT_EQ(op.layouts, (std::vector<Layout>{Layout::BranchView}));
    EXPECT_EQ(station().meters().fields().layout, Layout::BranchView);

    // The temperature meter answered and is known, but not listed.
    EXPECT_NE(station().meters().directory()[2], 0);  // its slave ID byte
    EXPECT_EQ(station().meters().directory()[3], 230);
    EXPECT_EQ(station().meters().directory()[7], 236);
    EXPECT_TRUE(op.messages.empty());
    EXPECT_EQ(op.waitCursorShows, 1);
    EXPECT_EQ(op.waitCursorDepth, 0);
    EXPECT_FALSE(station().meters().scanning());

    // Every address up to the depth was asked once for its slave ID, in order.
    std::vector<int> probed;
    for (const auto& r : sim.requests()) {
        if (functionOf(r) == 17) probed.push_back(addressOf(r));
    }
    ASSERT_EQ(probed.size(), 16U);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(probed[static_cast<std::size_t>(i)], i + 1);

    // The operator picks the Circuit meter, then the Branch meter again.
    station().meters().list().select(1);
    station().meters().selectMeter();
    EXPECT_EQ(station().meters().selected().address, 7);
    EXPECT_EQ(station().meters().selected().model, kCircuitMeter6);
    EXPECT_EQ(station().meters().fields().layout, Layout::CircuitView);
    station().meters().list().select(0);
    station().meters().selectMeter();
    EXPECT_EQ(station().meters().selected().address, 3);
    EXPECT_EQ(station().meters().fields().layout, Layout::BranchView);

    // No selection: nothing is polled any more, the model stays.
    station().meters().list().select(-1);
    station().meters().selectMeter();
    EXPECT_EQ(station().meters().selected().address, -1);
    EXPECT_EQ(station().meters().selected().model, kBranchMeter);
}

TEST_F(MeterScanTest, FirstCircuitMeterSwitchesToTheCircuitLayout) {
    startBus({"9:235", "12:230"});
    station().settings().scanDepth = 12;
    MeterScan(station().meters());
    ASSERT_EQ(station().meters().list().count(), 2);
    EXPECT_EQ(station().meters().selected().address, 9);
    EXPECT_EQ(station().meters().selected().model, kCircuitMeter8);
    EXPECT_EQ(op.layouts, (std::vector<Layout>{Layout::CircuitView}));
}

TEST_F(MeterScanTest, SilentBusLeavesTheSelectionAsItWas) {
    auto& sim = startBus({"200:230"});  // beyond the scan depth: the bus answers nothing
    station().settings().scanDepth = 3;
    station().meters().setSelected(SelectedMeter{5, kBranchMeter});
    station().meters().list().insert(0, MeterEntry{5, kBranchMeter, "OLD", "Tamsa Branch"});

    MeterScan(station().meters());

    EXPECT_TRUE(station().meters().list().entries().empty());
    EXPECT_FALSE(station().meters().list().searching());
    EXPECT_EQ(station().meters().list().selection(), -1);
    EXPECT_EQ(station().meters().selected().address, 5);
    EXPECT_EQ(station().meters().selected().model, kBranchMeter);
    EXPECT_TRUE(op.layouts.empty());
    EXPECT_TRUE(op.messages.empty());
    EXPECT_EQ(sim.requests().size(), 3U);
}

TEST_F(MeterScanTest, ScanDepthIsReadAgainBeforeEveryAddress) {
    auto& sim = startBus({"200:230"});  // beyond the scan depth: the bus answers nothing
    station().settings().scanDepth = 10;
    op.onRepaint = [&] {
        if (station().meters().list().progress() == SearchProgress{2, 10}) station().settings().scanDepth = 3;
    };
    MeterScan(station().meters());
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
    station().settings().scanDepth = 70;

    MeterScan(station().meters());

    ASSERT_EQ(station().meters().list().count(), 1);
    EXPECT_EQ(station().meters().list().entries()[0].address, 70);
    EXPECT_EQ(station().meters().selected().address, 70);

    station().meters().list().select(0);
    station().meters().selectMeter();
    EXPECT_EQ(station().meters().selected().address, 70);
    EXPECT_EQ(station().meters().selected().model, kBranchMeter);

    const std::filesystem::path log = std::filesystem::path(sim.tempDir()) / "readings.csv";
    station().settings().logFilePath = log.string();
    station().settings().fileLoggingEnabled = true;
    station().logging().useClock([] { return std::time_t{1'700'000'000}; });
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

TEST_F(MeterScanTest, AnAddressOutsideTheSelectableOnesSelectsNothing) {
    station().meters().recordSlaveId(3, kBranchMeter);
    station().meters().setLayout(Layout::CircuitView);
    station().meters().list().insert(0, MeterEntry{248, kNoModel, "FAR", "Tamsa"});
    station().meters().list().select(0);
    station().meters().setSelected(SelectedMeter{3, kBranchMeter});
    station().meters().selectMeter();
    EXPECT_EQ(station().meters().selected().address, -1);
    EXPECT_EQ(station().meters().selected().model, kNoModel);
    EXPECT_TRUE(op.layouts.empty());
}

TEST_F(MeterScanTest, PickingAMeterOfAnotherModelKeepsTheLayout) {
    station().meters().recordSlaveId(4, kTemperatureMeter);
    station().meters().setLayout(Layout::CircuitView);
    station().meters().list().insert(0, MeterEntry{4, kTemperatureMeter, "T1", "Tamsa Temperature"});
    station().meters().list().select(0);
    station().meters().selectMeter();
    EXPECT_EQ(station().meters().selected().address, 4);
    EXPECT_TRUE(op.layouts.empty());
    EXPECT_EQ(station().meters().fields().layout, Layout::CircuitView);
}

TEST_F(MeterScanTest, BrokenAnswersAreReportedPerAddressAndTheScanGoesOn) {
    auto& sim = startBus({"2:230", "3:230"});
    station().settings().scanDepth = 3;
    sim.fault(2, "badcrc");
    MeterScan(station().meters());
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Address [2] Returned Error Code [5]."}));
    EXPECT_EQ(op.messages[0].caption, "Com port failure");
    ASSERT_EQ(station().meters().list().count(), 1);
    EXPECT_EQ(station().meters().selected().address, 3);
}

TEST_F(MeterScanTest, AnAnswerTooShortForASlaveIdNamesThePortAndEndsTheScan) {
    // A Modbus exception reply (5 bytes) to the slave-ID request has the wrong number of bytes.
    auto& sim = startBus({"1:230", "2:230", "3:230"});
    station().settings().scanDepth = 3;
    sim.fault(2, "exception");
    MeterScan(station().meters());
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Comm port COM1: not properly opened."}));
    EXPECT_EQ(op.messages[0].caption, "Com port failure");
    std::vector<int> probed;
    for (const auto& r : sim.requests()) {
        if (functionOf(r) == 17) probed.push_back(addressOf(r));
    }
    EXPECT_EQ(probed, (std::vector<int>{1, 2})) << "address 3 is not asked any more";
    ASSERT_EQ(station().meters().list().count(), 1);
    EXPECT_EQ(station().meters().list().entries()[0].address, 1);
    EXPECT_EQ(station().meters().selected().address, 1);
    EXPECT_FALSE(station().meters().scanning());
}

TEST_F(MeterScanTest, ScanWithClosedPortTriesOneOpenThenAsksForAPort) {
    setenv("QUORNA_COM3", "/nonexistent/quorna-no-port", 1);
    station().bus().link().portName = "COM3:";
    MeterScan(station().meters());
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Unable to open COM3:", "Please select a COM port"}));
    EXPECT_EQ(op.messages[1].caption, "");
    EXPECT_FALSE(station().meters().scanning());

    // After two failed opens the scan tries nothing more.
    op.messages.clear();
    station().bus().link().openFailures = 2;
    MeterScan(station().meters());
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Please select a COM port"}));
    EXPECT_EQ(op.waitCursorShows, 0);
    unsetenv("QUORNA_COM3");
}

TEST_F(MeterScanTest, AScanAskedForWhileOneRunsFollowsItAndACancelEndsBoth) {
    auto& sim = startBus({"3:230"});
    station().settings().scanDepth = 2;
    station().scan();
    EXPECT_TRUE(station().scanStep());  // address 1
    station().scan();                   // Find Meters again, between two steps
    while (station().scanStep()) {
    }
    EXPECT_EQ(sim.requests().size(), 4U) << "addresses 1 and 2, then the second scan's 1 and 2";
    EXPECT_TRUE(station().meters().list().entries().empty()) << "meter 3 lies beyond the depth";
    EXPECT_FALSE(station().meters().list().searching()) << "the progress line is gone";
    EXPECT_EQ(op.waitCursorDepth, 0);

    station().scan();
    EXPECT_TRUE(station().scanStep());
    station().scan();
    station().cancelScan();  // the port changes, or the program ends
    EXPECT_FALSE(station().scanning());
    EXPECT_FALSE(station().scanStep()) << "the queued scan went with the cancelled one";
    EXPECT_EQ(sim.requests().size(), 5U);
    EXPECT_TRUE(station().meters().list().entries().empty());
    EXPECT_FALSE(station().meters().list().searching()) << "no progress line is left behind";
    EXPECT_EQ(op.waitCursorDepth, 0);
}

// The scan's steps, on the pseudo-terminal and through a Modbus TCP gateway: a silent address is
// waited for a slice at a time, so no step holds its caller for a probe's whole time-out, and the
// meters see exactly the requests of the whole scan, with nothing between a probe and its answer.
class SteppedScanTest : public MeterScanTest, public ::testing::WithParamInterface<PortKind> {};

std::vector<std::vector<std::uint8_t>> framesOf(const std::vector<SimRequest>& requests) {
    std::vector<std::vector<std::uint8_t>> frames;
    for (const auto& r : requests) frames.push_back(r.bytes);
    return frames;
}

TEST_P(SteppedScanTest, NoStepWaitsOutASilentAddressAndTheWireCarriesTheWholeScansRequests) {
    portKind = GetParam();
    auto& sim = startBus({"3:230"});
    sim.command("name 3 PNL1");
    station().settings().scanDepth = 4;  // 1, 2 and 4 are silent
    int insideProbe = 0;
    int forwarded = 0;
    station().bus().setBetweenTransactions([&] {
        ++forwarded;
        if (station().bus().exchangePending()) ++insideProbe;
    });

    using Clock = std::chrono::steady_clock;
    station().scan();
    double longestSilentStep = 0;
    int steps = 0;
    const auto begun = Clock::now();
    for (bool more = true; more;) {
        const int address = station().meters().scanProgress().nextAddress;
        const auto stepBegun = Clock::now();
        more = station().scanStep();
        const double took = std::chrono::duration<double, std::milli>(Clock::now() - stepBegun).count();
        if (address != 3) longestSilentStep = std::max(longestSilentStep, took);
        ++steps;
        if (station().scanning()) station().tick();  // does nothing while the scan runs
    }
    const double scanTook = std::chrono::duration<double, std::milli>(Clock::now() - begun).count();
    EXPECT_LT(longestSilentStep, 120.0) << "a step waits at most a slice of 50 ms for an answer";
    EXPECT_GE(steps, 3 * 14) << "each silent address takes some 16 slices";
    EXPECT_GT(scanTook, 3 * 800.0) << "a silent address is still given its whole time-out";
    EXPECT_EQ(insideProbe, 0) << "the gateway forwards only between transactions, never during a probe";
    EXPECT_GE(forwarded, 4);

    const auto stepped = framesOf(sim.requests());
    const std::vector<MeterEntry> steppedList = station().meters().list().entries();
    std::vector<int> probed;
    for (const auto& r : sim.requests()) {
        if (functionOf(r) == 17) probed.push_back(addressOf(r));
        else EXPECT_EQ(addressOf(r), 3) << "only the found meter is read, for its names";
    }
    EXPECT_EQ(probed, (std::vector<int>{1, 2, 3, 4}));
    ASSERT_EQ(steppedList.size(), 1U);
    EXPECT_EQ(entryText(steppedList[0]).substr(0, 10), "03 - PNL1 ");
    EXPECT_EQ(station().meters().selected().address, 3);

    sim.clearRequests();
    MeterScan(station().meters());
    EXPECT_EQ(framesOf(sim.requests()), stepped) << "the whole scan sends the same bytes in the same order";
    EXPECT_EQ(station().meters().list().entries(), steppedList);
    EXPECT_EQ(op.waitCursorDepth, 0);
}

// A scan cancelled while a probe's answer is awaited ends at once; the next transaction does not
// take the late answer for its own.
TEST_P(SteppedScanTest, ACancelDuringAProbeLeavesTheLateAnswerToNoOne) {
    portKind = GetParam();
    auto& sim = startBus({"3:230"});
    sim.fault(3, "delay 300");
    station().settings().scanDepth = 3;
    station().scan();
    while (station().meters().scanProgress().nextAddress != 3 || !station().meters().scanProgress().probing) ASSERT_TRUE(station().scanStep());
    station().cancelScan();
    EXPECT_FALSE(station().scanning());
    EXPECT_TRUE(station().meters().list().entries().empty());
    EXPECT_EQ(op.waitCursorDepth, 0);

    sim.fault(3, "none");
    sim.set(3, kWarningLimitRegister, {77, 78});
    std::int32_t limits[2] = {0, 0};
    EXPECT_EQ(readRegisters(station().bus(), 3, kWarningLimitRegister, 2, limits), ModbusError::Ok);
    EXPECT_EQ(limits[0], 77);
    EXPECT_EQ(limits[1], 78);
    EXPECT_EQ(readRegisters(station().bus(), 3, kWarningLimitRegister, 1, limits), ModbusError::Ok);
    const auto requests = sim.requests();
    ASSERT_GE(requests.size(), 2U);
    EXPECT_EQ(functionOf(requests[requests.size() - 2]), 3) << "the late answer is waited out, not asked again";

    // Given up, then the port changes: nothing is left to wait for on the new one.
    station().scan();
    while (!station().meters().scanProgress().probing) ASSERT_TRUE(station().scanStep());
    station().cancelScan();
    EXPECT_TRUE(station().bus().exchangePending());
    const std::string name = station().bus().link().portName;
    ASSERT_TRUE(selectPort(station().bus(), name));
    EXPECT_FALSE(station().bus().exchangePending());
}

INSTANTIATE_TEST_SUITE_P(Ports, SteppedScanTest, ::testing::Values(PortKind::Serial, PortKind::ModbusTcp),
                         [](const auto& info) { return std::string(portKindName(info.param)); });

}  // namespace
}  // namespace quorna::test
