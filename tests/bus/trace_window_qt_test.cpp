// The "Modbus Protocol Communication" window on the offscreen platform, reached through its
// command: one window at most, live refresh after every exchange, "Freeze" during a scan, "OK".

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "gui/main/command_ids.h"
#include "bus/modbus_master.h"
#include "bus/serial_link.h"
#include "forms/protocol_trace_dialog.h"
#include "bus/trace_ring.h"
#include "gui/bus/protocol_trace_window.h"
#include "meters/meter_scan.h"
#include "meters/meter_model.h"
#include "meters/meters.h"
#include "meters/polling_cycle.h"
#include "metersim_harness.h"
#include "recording_operator.h"
#include "settings/configuration.h"
#include "spooled_station.h"
#include "stub_app_shell.h"

namespace quorna::test {
namespace {

// Forwards the master's and the scan's repaint requests to the window, as the main window does.
class ForwardingOperator : public RecordingOperator {
public:
    void repaintTrace() override {
        RecordingOperator::repaintTrace();
        if (forward) forward();
    }
    std::function<void()> forward;
};

class TraceWindowQtTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_station.fresh();
        installTraceCommands(shell);
        op.forward = [this] {
            if (shell.traceRepaint) shell.traceRepaint();
        };
    }
    void TearDown() override {
        if (ProtocolTraceWindow* window = protocolTraceWindow(shell.mainWindow())) window->done(QDialog::Accepted);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_station.drop();
        sim.reset();
        unsetenv("QUORNA_COM1");
    }
    void openBus(std::vector<std::string> args) {
        sim = std::make_unique<MeterSimulator>(std::move(args));
        sim->useAsComPort(1);
        ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    }
    // The test's station, made in SetUp.
    Station& station() { return m_station.get(); }
    ProtocolTraceWindow& window() {
        ProtocolTraceWindow* w = protocolTraceWindow(shell.mainWindow());
        EXPECT_NE(w, nullptr);
        return *w;
    }
    std::string pane() { return window().findChild<QLabel*>("pane")->text().toStdString(); }
    std::string field(const char* name) { return window().findChild<QLineEdit*>(name)->text().toStdString(); }
    void click(const char* name) { window().findChild<QPushButton*>(name)->click(); }
    void read(int address, int start) {
        std::int32_t value = 0;
        (void)readRegisters(station().bus(), address, start, 1, &value);
    }

    ForwardingOperator op;
    StubAppShell shell{[this]() -> Station& { return station(); }};
    std::unique_ptr<MeterSimulator> sim;

private:
    HeldStation m_station{op};
};

TEST_F(TraceWindowQtTest, TheCommandSitsInTheConfigurationMenuWithControlT) {
    ASSERT_EQ(shell.commands.count(kCmdProtocolTrace), 1U);
    EXPECT_EQ(shell.commands[kCmdProtocolTrace].menu, "Configuration");
    EXPECT_EQ(shell.commands[kCmdProtocolTrace].entry, "Protocol Trace");
    EXPECT_EQ(shell.commands[kCmdProtocolTrace].shortcut, QKeySequence(QStringLiteral("Ctrl+T")));
}

TEST_F(TraceWindowQtTest, OpenedBeforeAnyTrafficItShowsAnEmptyPaneZeroZeroAndOk) {
    shell.dispatch(kCmdProtocolTrace);
    ASSERT_NE(protocolTraceWindow(shell.mainWindow()), nullptr);
    EXPECT_TRUE(window().isVisible());
    EXPECT_FALSE(window().isModal());
    EXPECT_EQ(window().windowTitle(), "Modbus Protocol Communication");
    EXPECT_EQ(window().parentWidget(), shell.mainWindow());
    EXPECT_EQ(pane(), "");
    EXPECT_EQ(field("good"), "0");
    EXPECT_EQ(field("bad"), "0");
    EXPECT_EQ(field("lastError"), "Ok");
    EXPECT_TRUE(station().bus().traceLive());
    saveScreenshot(window(), "protocol-trace-empty");

    // The command again leaves the one window as it is.
    ProtocolTraceWindow* first = protocolTraceWindow(shell.mainWindow());
    shell.dispatch(kCmdProtocolTrace);
    EXPECT_EQ(protocolTraceWindow(shell.mainWindow()), first);
    EXPECT_EQ(shell.mainWindow()->findChildren<ProtocolTraceWindow*>().size(), 1);
}

TEST_F(TraceWindowQtTest, TheLiveWindowFollowsEveryExchange) {
    openBus({"--meter", "1:230"});
    sim->set(1, 0, {1});
    shell.dispatch(kCmdProtocolTrace);
    read(1, 0);
    EXPECT_EQ(pane(), "Send->01 03 00 00 00 01 84 0A\nRecv->01 03 02 00 01 79 84\n");
    for (int i = 0; i < 3; ++i) station().bus().countBadRead(ModbusError::CrcError);
    read(1, 0);
    EXPECT_EQ(field("bad"), "3");
    EXPECT_EQ(field("lastError"), "Err #5, CRC Error");
    saveScreenshot(window(), "protocol-trace-live");
}

TEST_F(TraceWindowQtTest, CountsMadeAfterTheLastExchangeOfATickShowWhenTheTickIsOver) {
    // A temperature meter's poll is one exchange, counted only after it: the window must not
    // stay one count behind until the next exchange.
    openBus({"--meter", "2:600"});
    station().meters().setSelected(SelectedMeter{2, kTemperatureMeter});
    shell.dispatch(kCmdProtocolTrace);
    station().PollingCycle();
    QCoreApplication::processEvents();
    EXPECT_EQ(field("good"), "1");
    EXPECT_EQ(field("bad"), "0");

    sim->fault(2, "silent");
    station().PollingCycle();
    QCoreApplication::processEvents();
    EXPECT_EQ(field("good"), "1");
    EXPECT_EQ(field("bad"), "1");
    EXPECT_EQ(field("lastError"), "Err #1, Timeout Waiting For Response");
    EXPECT_EQ(pane().substr(pane().rfind("Send->")), "Send->02 03 01 00 00 02 C5 C4\nRecv->\n");
}

TEST_F(TraceWindowQtTest, FrozenDuringAScanThePaneKeepsItsTextAndASecondFreezeResumes) {
    openBus({"--meter", "1:230", "--meter", "2:230", "--meter", "3:236"});
    station().settings().scanDepth = 3;
    shell.dispatch(kCmdProtocolTrace);
    read(1, 0);
    const std::string before = pane();
    ASSERT_FALSE(before.empty());

    click("freeze");
    EXPECT_FALSE(station().bus().traceLive());
    const int repaintsBefore = op.traceRepaints;
    MeterScan(station().meters());
    EXPECT_EQ(op.traceRepaints, repaintsBefore);  // the scan asked for no repaint while frozen
    EXPECT_EQ(pane(), before);
    EXPECT_NE(station().trace().view().pane, before);  // the ring moved on meanwhile

    // The open command while frozen changes nothing; a second Freeze resumes the refresh.
    shell.dispatch(kCmdProtocolTrace);
    EXPECT_FALSE(station().bus().traceLive());
    click("freeze");
    EXPECT_TRUE(station().bus().traceLive());
    read(2, 0);
    EXPECT_EQ(pane(), station().trace().view().pane);
    EXPECT_NE(pane().find("Send->02 03 00 00 00 01"), std::string::npos);
    EXPECT_NE(pane().find("Send->03 11"), std::string::npos);
}

TEST_F(TraceWindowQtTest, OkClosesTheWindowAndStopsTheRefresh) {
    shell.dispatch(kCmdProtocolTrace);
    click("ok");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(protocolTraceWindow(shell.mainWindow()), nullptr);
    EXPECT_FALSE(station().bus().traceLive());
    EXPECT_FALSE(station().trace().isOpen());
    repaintTraceWindow(shell.mainWindow());  // harmless without a window

    // The command opens a new one afterwards; the close box closes it the same way.
    shell.dispatch(kCmdProtocolTrace);
    ASSERT_NE(protocolTraceWindow(shell.mainWindow()), nullptr);
    window().close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(protocolTraceWindow(shell.mainWindow()), nullptr);
    EXPECT_FALSE(station().bus().traceLive());
}

}  // namespace
}  // namespace quorna::test
