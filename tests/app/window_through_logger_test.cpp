// The window program pointed at quorna-logger's Modbus TCP gateway (QUORNA_COM1=tcp://...), on the
// offscreen platform, while the logger logs the same bus: the window scans, polls, writes a
// setpoint through Breaker Alarm Setup and a panel name through its SET button, and the logger's
// lines come out as they do without the window.

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "gui/alarms/breaker_alarm_window.h"
#include "gui/main/command_ids.h"
#include "logger/logger_app.h"
#include "logger_process.h"
#include "main_window_fixture.h"

namespace quorna::test {
namespace {

namespace fs = std::filesystem;
using Setting = BreakerAlarmDialog::GlobalSetting;

std::string loggerSettings(const std::string& logFile, const std::string& extra) {
    return "location North Plant\ninterval 1\nport COM2:\nspeed 2048\nparity 0\nscan 2\nsave_file " + logFile +
           "\nformat 1\n" + extra;
}

std::size_t lineCount(const std::string& path) {
    const std::string text = readWholeFile(path);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

int gatewayPort(const LoggerProcess& logger) {
    const std::string said = "the Modbus TCP gateway listens on 127.0.0.1:";
    for (int i = 0; i < 500; ++i) {
        for (const std::string& line : logger.errLines()) {
            if (const auto at = line.find(said); at != std::string::npos) return std::atoi(line.c_str() + at + said.size());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
}

TEST_F(MainWindowTest, TheWindowWorksThroughTheLoggersGatewayWhileTheLoggerLogsExactLines) {
    sim = std::make_unique<MeterSimulator>(std::vector<std::string>{"--meter", "1:230", "--meter", "2:230"});
    for (int address = 1; address <= 2; ++address) {
        std::vector<int> mA;
        for (int i = 0; i < 42; ++i) mA.push_back(address * 10000 + i * 137);
        sim->set(address, 0, mA);
    }
    sim->useAsComPort(2);  // the logger's port
    const fs::path dir = sim->tempDir();

    // The logger alone: the three moments' lines.
    const std::string plainLog = (dir / "plain" / "readings.csv").string();
    {
        LoggerProcess logger({"--config", settingsIn(dir / "plain", loggerSettings(plainLog, ""))},
                             {testClockAt(firstMoment(), 3, 300)}, dir.string());
        for (int i = 0; i < 400 && lineCount(plainLog) < 6; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        logger.signal(SIGTERM);
        ASSERT_EQ(logger.wait(5000), kLoggerExitOk) << logger.errText();
    }
    ASSERT_EQ(lineCount(plainLog), 6U);

    // The logger with its gateway, three moments 2.5 s apart, and the window on the gateway.
    const std::string log = (dir / "gw" / "readings.csv").string();
    LoggerProcess logger({"--config", settingsIn(dir / "gw", loggerSettings(log, "gateway 127.0.0.1:0\n"))},
                         {testClockAt(firstMoment(), 3, 2500)}, dir.string());
    const int port = gatewayPort(logger);
    ASSERT_GT(port, 0) << logger.errText();
    setenv("QUORNA_COM1", ("tcp://127.0.0.1:" + std::to_string(port)).c_str(), 1);
    {
        std::FILE* f = std::fopen("Quorna.cfg", "w");
        ASSERT_NE(f, nullptr);
        std::fputs("port COM1:\nscan 2\n", f);
        std::fclose(f);
    }
    BoxAnswerer boxes;
    openWindow();
    // The scan through the gateway finds both meters; the first is polled on screen.
    ASSERT_TRUE(waitUntil([this] { return window->controls().breakerField[0]->text() == "10.000"; }, 15000))
        << window->controls().breakerField[0]->text().toStdString();
    EXPECT_EQ(window->controls().meterList->count(), 2);
    EXPECT_EQ(station().meters().selected().address, 1);
    EXPECT_EQ(window->controls().breakerField[41]->text(), "15.617");
    sim->clearRequests();

    // Breaker Alarm Setup: the global alarm percentage, SET.
    window->dispatch(kCmdSetpoints);
    auto windows = window->findChildren<BreakerAlarmWindow*>();
    ASSERT_EQ(windows.size(), 1);
    BreakerAlarmWindow* alarms = windows.front();
    ASSERT_TRUE(waitUntil([alarms] { return alarms->isVisible(); }, 3000));
    QLineEdit* percent = alarms->globalEdit(Setting::AlarmPercent);
    percent->setFocus(Qt::MouseFocusReason);
    percent->selectAll();
    QTest::keyClicks(percent, "85");
    alarms->globalEdit(Setting::WarningPercent)->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    alarms->setButton(Setting::AlarmPercent)->click();
    QApplication::processEvents();
    EXPECT_EQ(sim->get(1, 135, 42), std::vector<int>(42, 85)) << "the meter's alarm limits";
    alarms->cancelButton()->click();
    QApplication::processEvents();

    // The panel window: a new panel name, SET, then Cancel. The window is modal: a timer works it.
    bool named = false;
    QTimer worker;
    worker.setInterval(50);
    QObject::connect(&worker, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* d = qobject_cast<QDialog*>(w);
            if (d == nullptr || !d->isVisible() || named) continue;
            auto* name = d->findChild<QLineEdit*>("panelName");
            auto* set = d->findChild<QPushButton*>("panelNameSet");
            if (name == nullptr || set == nullptr) continue;
            named = true;
            name->setText("EAST");
            set->click();
            d->reject();
        }
    });
    worker.start();
    window->dispatch(kCmdPanelConfiguration);
    worker.stop();
    ASSERT_TRUE(named);
    const auto writes = sim->writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.front().address, 1);
    EXPECT_EQ(writes.front().reg, 269);
    EXPECT_EQ(writes.front().value, 85);
    EXPECT_EQ(sim->get(1, 273, 2), (std::vector<int>{('E' << 8) | 'A', ('S' << 8) | 'T'}));
    EXPECT_LT(lineCount(log), 6U) << "the window's work was over before the logger's moments";

    // The logger's three moments, meanwhile, as without the window.
    ASSERT_TRUE(waitUntil([&log] { return lineCount(log) >= 6; }, 20000));
    runEventsFor(500);
    EXPECT_EQ(readWholeFile(log), readWholeFile(plainLog));
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
    EXPECT_EQ(station().bus().statistics().badReads, 0);
    window.reset();
    logger.signal(SIGTERM);
    ASSERT_EQ(logger.wait(5000), kLoggerExitOk) << logger.errText();
    EXPECT_TRUE(anyLineHas(logger.errLines(), "0 without an answer (0x0B), 0 without a path (0x0A), 0 refused"))
        << logger.errText();
    unsetenv("QUORNA_COM1");
}

}  // namespace
}  // namespace quorna::test
