// The protocol trace window's logic against simulated meters: what the pane and the three fields
// show before any traffic, after a silent poll and after five exchanges, and open, freeze and close.

#include <gtest/gtest.h>

#include <memory>

#include "bus/modbus_master.h"
#include "bus/serial_link.h"
#include "bus/trace_ring.h"
#include "forms/protocol_trace_dialog.h"
#include "logging/logging_sampler.h"
#include "meters/meter_list.h"
#include "meters/meters.h"
#include "metersim_harness.h"
#include "station_fixture.h"
#include "settings/configuration.h"

namespace quorna::test {
namespace {

class TraceWindowTest : public StationTest {
protected:
    void openBus(std::vector<std::string> args) {
        startBus({}, true, std::move(args));
        ASSERT_TRUE(station().bus().link().portOpen);
    }
};

TEST_F(TraceWindowTest, OpenedBeforeAnyTrafficItShowsAnEmptyPaneZeroZeroAndOk) {
    EXPECT_TRUE(station().trace().open());
    EXPECT_TRUE(station().bus().traceLive());
    const TraceView view = station().trace().view();
    EXPECT_EQ(view.pane, "");
    EXPECT_EQ(view.goodReads, "0");
    EXPECT_EQ(view.badReads, "0");
    EXPECT_EQ(view.lastError, "Ok");
}

TEST_F(TraceWindowTest, AfterASilentMetersReadTheNewestEntryHasTheRequestAndAnEmptyReceiveLine) {
    openBus({"--meter", "1:230"});
    sim->fault(1, "silent");
    ASSERT_TRUE(station().trace().open());
    // The logging cycle reads the listed meter and counts the failure, as a poll does.
    station().meters().list().insert(0, MeterEntry{1, kBranchMeter, "PNL1", "Tamsa Branch Circuit Monitor, 42 breakers"});
    station().settings().fileLoggingEnabled = true;
    LoggingSampler(station().logging());

    const TraceView view = station().trace().view();
    EXPECT_EQ(view.pane, "Send->01 03 00 00 00 31 84 1E\nRecv->\n");
    EXPECT_EQ(view.goodReads, "0");
    EXPECT_EQ(view.badReads, "1");
    EXPECT_EQ(view.lastError, "Err #1, Timeout Waiting For Response");
    EXPECT_EQ(op.traceRepaints, 1);  // the live window was refreshed after the exchange
}

TEST_F(TraceWindowTest, AfterFiveExchangesThePaneShowsTheFourNewestOldestFirst) {
    openBus({"--meter", "1:230"});
    sim->set(1, 0, {1, 2, 3, 4, 5});
    for (int start = 0; start < 5; ++start) {
        std::int32_t value = 0;
        ASSERT_EQ(readRegisters(station().bus(), 1, start, 1, &value), ModbusError::Ok);
    }
    EXPECT_EQ(station().bus().trace().newest, 1);
    EXPECT_EQ(station().trace().view().pane,
              "Send->01 03 00 01 00 01 D5 CA\nRecv->01 03 02 00 02 39 85\n"
              "Send->01 03 00 02 00 01 25 CA\nRecv->01 03 02 00 03 F8 45\n"
              "Send->01 03 00 03 00 01 74 0A\nRecv->01 03 02 00 04 B9 87\n"
              "Send->01 03 00 04 00 01 C5 CB\nRecv->01 03 02 00 05 78 47\n");
    EXPECT_EQ(op.traceRepaints, 0);  // no window open: nothing to refresh
}

TEST_F(TraceWindowTest, FreezeStopsTheRefreshAndTheOpenCommandLeavesAFrozenWindowAlone) {
    ASSERT_TRUE(station().trace().open());
    station().trace().toggleFreeze();
    EXPECT_FALSE(station().bus().traceLive());
    EXPECT_TRUE(station().trace().isOpen());
    EXPECT_FALSE(station().trace().open());
    EXPECT_FALSE(station().bus().traceLive());
    station().trace().toggleFreeze();
    EXPECT_TRUE(station().bus().traceLive());
    station().trace().close();
    EXPECT_FALSE(station().bus().traceLive());
    EXPECT_FALSE(station().trace().isOpen());
    EXPECT_TRUE(station().trace().open());
}

}  // namespace
}  // namespace quorna::test
