// The main window on the offscreen platform: start-up, both layouts, polls, the scan, the failure
// box while the timer keeps ticking, About, help and shutdown.

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QTextBrowser>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "gui/main/about_window.h"
#include "gui/main/command_ids.h"
#include "logging/logging.h"
#include "meters/main_window_fields.h"
#include "bus/serial_link.h"
#include "main_window_fixture.h"
#include "meters/meter_list.h"
#include "meters/meter_model.h"
#include "meters/meter_scan.h"
#include "meters/meters.h"
#include "settings/configuration.h"

namespace quorna::test {
namespace {

std::vector<std::string> menuTexts(QMenu* menu) {
    std::vector<std::string> texts;
    for (QAction* a : menu->actions()) texts.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    return texts;
}

QMenu* topMenu(MainWindow& w, const QString& title) {
    for (QAction* a : w.menuBar()->actions()) {
        if (a->text() == title) return a->menu();
    }
    return nullptr;
}

TEST_F(MainWindowTest, StartsInTheBranchLayoutWithNothingOpenAndNothingSaid) {
    BoxAnswerer boxes;
    openWindow();
    const auto& c = window->controls();
    EXPECT_EQ(window->windowTitle(), "Orvo Monitoring Software");
    EXPECT_TRUE(window->timerRunning());
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    for (const QLineEdit* f : c.breakerField) {
        EXPECT_EQ(f->text(), "0.000");
        EXPECT_TRUE(f->isReadOnly());
        EXPECT_TRUE(f->isVisible());
    }
    for (const QLineEdit* f : c.phaseField) {
        EXPECT_TRUE(f->text().isEmpty());
        EXPECT_FALSE(f->isVisible());
    }
    EXPECT_EQ(c.breakerNumber[0]->text(), "1");
    EXPECT_EQ(c.breakerNumber[41]->text(), "42");
    // Odd breakers on the left, even on the right, row by row.
    EXPECT_LT(c.breakerField[0]->x(), c.breakerField[1]->x());
    EXPECT_EQ(c.breakerField[0]->y(), c.breakerField[1]->y());
    EXPECT_GT(c.breakerField[2]->y(), c.breakerField[0]->y());
    EXPECT_EQ(c.breakerField[40]->x(), c.breakerField[0]->x());
    EXPECT_EQ(c.breakersLabel->text(), "Breakers - ");
    EXPECT_TRUE(c.breakersLabel->isVisible());
    EXPECT_TRUE(c.firstName->isVisible());
    EXPECT_FALSE(c.secondName->isVisible());
    EXPECT_TRUE(c.upperListLabel->isVisible());
    EXPECT_FALSE(c.lowerListLabel->isVisible());
    EXPECT_EQ(c.upperListLabel->text(), "Available Meters");
    EXPECT_EQ(c.meterList->count(), 0);
    EXPECT_EQ(c.meterList->geometry(), window->listHomeRect());
    // The list stands just below its label.
    EXPECT_GE(c.meterList->y(), c.upperListLabel->geometry().bottom());
    EXPECT_LT(c.meterList->y() - c.upperListLabel->geometry().bottom(), 30);
    EXPECT_FALSE(station().bus().link().portOpen);

    EXPECT_EQ(menuTexts(topMenu(*window, "File")), (std::vector<std::string>{"Scan", "-", "Exit"}));
    EXPECT_EQ(menuTexts(topMenu(*window, "Help")), (std::vector<std::string>{"Help", "Help Index", "-", "About"}));
    EXPECT_EQ(window->commandAction(kCmdSetpoints)->text(), "Setpoints");
    EXPECT_TRUE(window->commandAction(kCmdSetpoints)->isEnabled());
    EXPECT_TRUE(window->commandAction(kCmdDelays)->isEnabled());
    EXPECT_EQ(window->commandAction(kCmdComms)->text(), "Comms");
    EXPECT_EQ(window->commandAction(kCmdResetAlarms)->text(), "Reset");

    runEventsFor(2300);  // two ticks: no port is opened without a setting naming one
    EXPECT_FALSE(station().bus().link().portOpen);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(MainWindowTest, CircuitLayoutShowsThePhaseAreaAndMovesTheListToTheBand) {
    openWindow();
    const auto& c = window->controls();
    window->applyLayout(Layout::CircuitView);

    for (const QLineEdit* f : c.breakerField) EXPECT_FALSE(f->isVisible());
    for (const QLabel* l : c.breakerLamp) EXPECT_FALSE(l->isVisible());
    for (const QLineEdit* f : c.phaseField) EXPECT_TRUE(f->isVisible());
    std::vector<std::string> titles;
    for (const QGroupBox* g : c.group) {
        EXPECT_TRUE(g->isVisible());
        titles.push_back(g->title().toStdString());
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"Current", "Power", "L-N Volts", "L-L Volts", "Alarms"}));
    std::vector<std::string> rows;
    for (const QLabel* l : c.phaseLabel) rows.push_back(l->text().toStdString());
    EXPECT_EQ(rows, (std::vector<std::string>{"A", "B", "C", "N", "Avg", "A-N", "B-N", "C-N", "Avg", "A-B", "B-C",
                                              "C-A", "Avg", "kW", "kVAr", "KVA", "PF"}));
    EXPECT_EQ(c.overLabel->text(), "Over");
    EXPECT_TRUE(c.overAmpsLamp->isVisible());
    EXPECT_TRUE(c.overVoltsLamp->isVisible());
    EXPECT_FALSE(c.breakersLabel->isVisible());
    EXPECT_TRUE(c.secondName->isVisible());
    EXPECT_TRUE(c.firstName->isVisible());
    EXPECT_LT(c.secondName->x(), c.firstName->x());
    EXPECT_TRUE(c.lowerListLabel->isVisible());
    EXPECT_FALSE(c.upperListLabel->isVisible());
    EXPECT_FALSE(window->commandAction(kCmdSetpoints)->isEnabled());
    EXPECT_FALSE(window->commandAction(kCmdDelays)->isEnabled());

    const QWidget* client = window->centralWidget();
    const QRect band = c.meterList->geometry();
    EXPECT_EQ(band, QRect(21, client->height() - 200, client->width() - 41, 180));
    EXPECT_GE(band.top(), c.lowerListLabel->geometry().bottom());

    window->applyLayout(Layout::BranchView);
    EXPECT_EQ(c.meterList->geometry(), window->listHomeRect());
    EXPECT_TRUE(window->commandAction(kCmdSetpoints)->isEnabled());
    EXPECT_TRUE(c.breakerField[41]->isVisible());
    EXPECT_FALSE(c.group[0]->isVisible());
}

TEST_F(MainWindowTest, TimerTicksPutTheSelectedMetersReadingsOnScreen) {
    startBus({"3:230"});
    sim->set(3, 0, std::vector<int>(42, 1500));
    sim->set(3, 42, {1, 0x0005, 0, 0, 0, 0, 0});
    sim->command("name 3 PNL1");
    openWindow();
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    station().meters().recordSlaveId(3, kBranchMeter);
    station().meters().setSelected(SelectedMeter{3, kBranchMeter});

    const auto& c = window->controls();
    ASSERT_TRUE(waitUntil([&] { return c.breakerField[41]->text() == "1.500"; }, 4000));
    for (const QLineEdit* f : c.breakerField) EXPECT_EQ(f->text(), "1.500");
    EXPECT_EQ(c.firstName->text(), "PNL1");
    EXPECT_EQ(c.breakerLamp[0]->pixmap().toImage().pixelColor(6, 6), QColor(255, 255, 0));
    EXPECT_EQ(c.breakerLamp[1]->pixmap().toImage().pixelColor(6, 6), QColor(0, 255, 0));
    EXPECT_EQ(c.breakerLamp[2]->pixmap().toImage().pixelColor(6, 6), QColor(255, 255, 0));
    EXPECT_EQ(c.breakerLamp[0]->pixmap().toImage().pixelColor(0, 0), QColor(0, 0, 0));
    EXPECT_EQ(c.breakerLamp[0]->pixmap().size(), QSize(13, 13));
}

TEST_F(MainWindowTest, AMeterThatStopsAnsweringShowsItsReadoutUnknownUntilItAnswers) {
    startBus({"3:230"});
    sim->set(3, 0, std::vector<int>(42, 1500));
    sim->set(3, 42, {0x08, 0, 0, 0, 0x0001, 0, 0});  // breaker 1 in alarm
    openWindow();
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    station().meters().recordSlaveId(3, kBranchMeter);
    station().meters().setSelected(SelectedMeter{3, kBranchMeter});
    const auto& c = window->controls();
    const auto colour = [](const QLabel* lamp) { return lamp->pixmap().toImage().pixelColor(6, 6); };
    ASSERT_TRUE(waitUntil([&] { return c.breakerField[41]->text() == "1.500"; }, 4000));
    EXPECT_EQ(colour(c.breakerLamp[0]), QColor(255, 0, 0));
    EXPECT_EQ(c.breakerLamp[0]->accessibleName(), "Breaker 1 lamp, red");

    // The meter stops answering: no reading and no lamp colour is shown for it, neither 0.000 nor green.
    sim->fault(3, "exception");
    ASSERT_TRUE(waitUntil([&] { return c.breakerField[0]->text().isEmpty(); }, 4000));
    for (const QLineEdit* f : c.breakerField) EXPECT_EQ(f->text(), "");
    for (const QLabel* lamp : c.breakerLamp) EXPECT_EQ(colour(lamp), QColor(96, 96, 96));
    EXPECT_EQ(c.breakerLamp[0]->accessibleName(), "Breaker 1 lamp, unknown");
    EXPECT_TRUE(openBoxes().empty());

    // The next good poll shows it all again.
    sim->fault(3, "none");
    ASSERT_TRUE(waitUntil([&] { return c.breakerField[0]->text() == "1.500"; }, 4000));
    EXPECT_EQ(colour(c.breakerLamp[0]), QColor(255, 0, 0));
    EXPECT_EQ(colour(c.breakerLamp[1]), QColor(0, 255, 0));
}

TEST_F(MainWindowTest, ScanRunsBetweenEventsShowingItsProgressAndOperatorPicksAMeter) {
    startBus({"2:236", "3:230"});
    station().settings().scanDepth = 4;
    openWindow();
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    QListWidget* list = window->controls().meterList;
    // What the list showed each time it was painted.
    std::vector<std::string> painted;
    struct PaintSpy : QObject {
        std::function<void()> onPaint;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) onPaint();
            return false;
        }
    } spy;
    spy.onPaint = [&] {
        if (list->count() > 0) {
            const std::string first = list->item(0)->text().toStdString();
            if (painted.empty() || painted.back() != first) painted.push_back(first);
        }
    };
    list->viewport()->installEventFilter(&spy);
    runEventsFor(100);  // the window is up on screen
    painted.clear();

    window->dispatch(kCmdScan);
    // The command returns at once; the scan goes on a step per address from the event loop, and
    // the window answers other events between the steps.
    bool scanningWhenAnswered = false;
    QTimer::singleShot(0, [&] { scanningWhenAnswered = station().scanning(); });
    EXPECT_TRUE(station().scanning());
    EXPECT_TRUE(waitUntil([&] { return !station().scanning(); }, 30000));
    EXPECT_TRUE(scanningWhenAnswered) << "an event was handled while the scan ran";
    list->viewport()->removeEventFilter(&spy);

    ASSERT_GE(painted.size(), 5U);
    EXPECT_EQ(painted[0], "Searching...");
    EXPECT_EQ(painted[1], "Searching: 1 of 4");
    EXPECT_EQ(painted[4], "Searching: 4 of 4");
    ASSERT_EQ(list->count(), 2);
    EXPECT_TRUE(list->item(0)->text().startsWith("02 - "));
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_TRUE(list->item(0)->isSelected());
    EXPECT_EQ(station().meters().selected().address, 2);
    EXPECT_FALSE(window->controls().breakerField[0]->isVisible());  // a Circuit meter came first

    // The core moving the selection does not count as the operator's choice.
    station().meters().list().select(1);
    EXPECT_EQ(station().meters().selected().address, 2);
    EXPECT_EQ(list->currentRow(), 1);

    // The operator clicks the Branch meter.
    list->setCurrentRow(0);
    list->setCurrentRow(1);
    EXPECT_EQ(station().meters().selected().address, 3);
    EXPECT_EQ(station().meters().selected().model, kBranchMeter);
    EXPECT_TRUE(window->controls().breakerField[0]->isVisible());
    EXPECT_EQ(list->geometry(), window->listHomeRect());
}

// While a scan runs, the progress line sits above the entries: a click picks the entry under it.
TEST_F(MainWindowTest, AMeterPickedWhileTheScanRunsIsTheOneUnderTheClick) {
    startBus({"2:236", "3:230"});
    station().settings().scanDepth = 4;
    openWindow();
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    QListWidget* list = window->controls().meterList;
    window->dispatch(kCmdScan);
    // Both meters listed below the progress line; the silent address 4 is still to come.
    ASSERT_TRUE(waitUntil([&] { return station().scanning() && list->count() == 3; }, 10000));
    EXPECT_EQ(list->item(0)->text().toStdString(), "Searching: 3 of 4");
    EXPECT_TRUE(list->item(2)->text().startsWith("03 - "));
    list->setCurrentRow(2);
    EXPECT_EQ(station().meters().selected().address, 3);
    EXPECT_EQ(station().meters().selected().model, kBranchMeter);
    EXPECT_EQ(station().meters().list().selection(), 1);
    list->setCurrentRow(0);  // the progress line is no meter
    EXPECT_EQ(station().meters().selected().address, -1);
    EXPECT_EQ(station().meters().list().selection(), -1);
    ASSERT_TRUE(waitUntil([this] { return !station().scanning(); }, 10000));
    ASSERT_EQ(list->count(), 2);
    EXPECT_TRUE(list->item(1)->text().startsWith("03 - "));
}

TEST_F(MainWindowTest, FailureBoxAtTheFifthFailureWhilePollingGoesOn) {
    startBus({"3:230"});
    sim->fault(3, "badcrc");
    openWindow();
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    station().meters().recordSlaveId(3, kBranchMeter);
    station().meters().setSelected(SelectedMeter{3, kBranchMeter});
    sim->clearRequests();

    std::string boxText;
    std::string boxCaption;
    std::size_t requestsAtOpen = 0;
    std::size_t requestsAtClose = 0;
    int failuresAtOpen = 0;
    int failuresAtClose = 0;
    bool closed = false;
    QTimer watcher;
    watcher.setInterval(50);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        const auto boxes = openBoxes();
        if (boxes.empty() || !boxText.empty()) return;
        boxText = boxes.front()->text().toStdString();
        boxCaption = boxes.front()->windowTitle().toStdString();
        requestsAtOpen = sim->requests().size();
        failuresAtOpen = station().meters().consecutiveFailures();
        QMessageBox* box = boxes.front();
        // Three seconds with the box open, then the operator presses OK.
        QTimer::singleShot(3300, box, [&, box] {
            requestsAtClose = sim->requests().size();
            failuresAtClose = station().meters().consecutiveFailures();
            box->accept();
            closed = true;
        });
    });
    watcher.start();

    ASSERT_TRUE(waitUntil([&] { return closed; }, 15000));
    EXPECT_EQ(boxText, "Device at address [3] read failure - error code [5]");
    EXPECT_EQ(boxCaption, "Communication Failure");
    EXPECT_EQ(failuresAtOpen, 5);
    // Polls went on while the box was open, and none of them opened a second box.
    // (one request each: a meter that did not answer its poll is not asked for its names)
    EXPECT_GE(requestsAtClose, requestsAtOpen + 2);
    EXPECT_GE(failuresAtClose, 7);
    runEventsFor(1200);
    EXPECT_TRUE(openBoxes().empty());
}

TEST_F(MainWindowTest, PollingGoesOnWhileAModalDialogFromTheMenuIsOpen) {
    startBus({"3:230"});
    openWindow();
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    station().meters().recordSlaveId(3, kBranchMeter);
    station().meters().setSelected(SelectedMeter{3, kBranchMeter});
    sim->clearRequests();

    QDialog* dialog = nullptr;
    bool modal = false;
    std::size_t requestsAtOpen = 0;
    std::size_t requestsAtClose = 0;
    QString shownAtClose;
    QTimer watcher;
    watcher.setInterval(50);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (dialog != nullptr) return;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* d = qobject_cast<QDialog*>(w);
            if (d == nullptr || !d->isVisible() || d->windowTitle() != "Configuration") continue;
            dialog = d;
            modal = d->isModal();
            requestsAtOpen = sim->requests().size();
            sim->set(3, 0, std::vector<int>(42, 1500));  // the currents change behind the dialog
            // Three seconds with the dialog open, then the operator presses Cancel.
            QTimer::singleShot(3300, d, [&, d] {
                requestsAtClose = sim->requests().size();
                shownAtClose = window->controls().breakerField[41]->text();
                d->reject();
            });
        }
    });
    watcher.start();
    window->dispatch(kCmdComms);  // Configuration, "Comms": returns when the dialog has closed

    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(modal);
    EXPECT_GE(requestsAtClose, requestsAtOpen + 2) << "the meter is polled while the dialog is open";
    EXPECT_EQ(station().bus().statistics().badReads, 0);
    EXPECT_EQ(shownAtClose, "1.500") << "the window shows what the meter reads while the dialog is open";
}

TEST_F(MainWindowTest, EnterAndEscapeEachEndTheProgram) {
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        openWindow();
        bool ended = false;
        QObject::connect(window.get(), &MainWindow::closed, [&] { ended = true; });
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), key);
        EXPECT_TRUE(ended) << "key " << key;
        EXPECT_FALSE(window->isVisible());
        EXPECT_FALSE(window->timerRunning());
        window.reset();
    }
}

TEST_F(MainWindowTest, AboutBoxFromTheHelpMenu) {
    openWindow();
    std::string caption;
    std::string text;
    QTimer::singleShot(200, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* about = qobject_cast<AboutWindow*>(w); about != nullptr && about->isVisible()) {
                caption = about->windowTitle().toStdString();
                if (auto* label = about->findChild<QLabel*>("aboutText")) text = label->text().toStdString();
                about->accept();
            }
        }
    });
    window->commandAction(kCmdAbout)->trigger();
    EXPECT_EQ(caption, "About Orvo Monitoring Software");
    EXPECT_EQ(text, std::string("Orvo Metering, V") + QUORNA_VERSION) << "the version the build defines once";
    EXPECT_TRUE(window->timerRunning());
}

TEST_F(MainWindowTest, HelpOpensTheProgramsOwnHelpDocument) {
    openWindow();
    window->dispatch(kCmdHelpIndex);
    auto* help = qobject_cast<QTextBrowser*>(window->helpWindow());
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_TRUE(help->toPlainText().contains("Available Meters"));
    window->close();
    EXPECT_FALSE(help->isVisible());
}

TEST_F(MainWindowTest, ExitStopsTheTimerClosesThePortAndSavesNothing) {
    startBus({"3:230"});
    openWindow();
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    bool ended = false;
    QObject::connect(window.get(), &MainWindow::closed, [&] { ended = true; });
    window->dispatch(kCmdExit);
    EXPECT_TRUE(ended);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->timerRunning());
    EXPECT_FALSE(station().bus().link().portOpen);
    EXPECT_FALSE(std::filesystem::exists(m_workDir / "Quorna.cfg"));
}

TEST_F(MainWindowTest, CloseBoxWithoutPortClosesNothing) {
    openWindow();
    window->close();
    EXPECT_FALSE(window->timerRunning());
    EXPECT_FALSE(station().bus().link().portOpen);
}

TEST_F(MainWindowTest, SettingsNamingAPortOpenItAtTheFirstTickAndScan) {
    startBus({"3:230"});
    {
        std::FILE* f = std::fopen("Quorna.cfg", "w");
        ASSERT_NE(f, nullptr);
        std::fputs("port COM1:\nscan 3\n", f);
        std::fclose(f);
    }
    openWindow();
    EXPECT_FALSE(station().bus().link().portOpen);  // not at start
    EXPECT_EQ(station().settings().scanDepth, 3);
    ASSERT_TRUE(waitUntil([this] { return station().bus().link().portOpen && !station().meters().scanning() && station().meters().selected().address == 3; }, 6000));
    EXPECT_EQ(window->controls().meterList->count(), 1);
}

// The window started on settings that name a gateway: the first tick connects, scans and puts the
// meter's readings on screen, as it does on a serial port.
class MainWindowGatewayTest : public MainWindowTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(MainWindowGatewayTest, AGatewayNamedInTheSettingsIsScannedAndPolledOnScreen) {
    sim = std::make_unique<MeterSimulator>(std::vector<std::string>{"--meter", "1:230", GetParam(), "0"});
    sim->set(1, 0, {4321});
    const std::string name = sim->gatewayName(GetParam() == "--tcp" ? "tcp://" : "rtu+tcp://");
    {
        std::FILE* f = std::fopen("Quorna.cfg", "w");
        ASSERT_NE(f, nullptr);
        std::fputs(("port " + name + "\nscan 1\n").c_str(), f);
        std::fclose(f);
    }
    BoxAnswerer boxes;
    openWindow();
    ASSERT_TRUE(waitUntil([this] { return window->controls().breakerField[0]->text() == "4.321"; }, 6000));
    EXPECT_EQ(window->controls().meterList->count(), 1);
    EXPECT_EQ(station().bus().link().portName, name);
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
}

INSTANTIATE_TEST_SUITE_P(Gateways, MainWindowGatewayTest, ::testing::Values("--tcp", "--rtu-tcp"),
                         [](const auto& info) { return std::string(info.param == "--tcp" ? "ModbusTcp" : "RtuOverTcp"); });

// A long backlog in the spool drains a slice at a time from the event loop: every record reaches
// the file once, in order, and the selected meter is polled all the while.
TEST_F(MainWindowTest, ABacklogDrainsInSlicesWhilePollingGoesOn) {
    startBus({"3:230"});
    sim->set(3, 0, std::vector<int>(42, 1500));
    Logging& logging = station().logging();
    ASSERT_TRUE(logging.spool().open(spoolPath(logging)));
    constexpr int kMoments = 1000;
    constexpr int kMeters = 40;
    for (int m = 0; m < kMoments; ++m) {
        std::vector<RecordPtr> records;
        for (int a = 1; a <= kMeters; ++a) {
            auto r = std::make_shared<ReadingsRecord>();
            r->model = kBranchMeter;
            r->address = a;
            r->time = 1'700'000'000 + m * 60;
            records.push_back(r);
        }
        ASSERT_TRUE(logging.spool().append(records, true, false));
    }
    station().settings().logFilePath = (m_workDir / "plant.csv").string();
    station().settings().fileLoggingEnabled = true;
    openWindow();
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    station().meters().recordSlaveId(3, kBranchMeter);
    station().meters().setSelected(SelectedMeter{3, kBranchMeter});
    sim->clearRequests();

    QElapsedTimer drain;
    drain.start();
    qint64 longestTurn = 0;
    qint64 lastTurn = 0;
    QTimer turns;  // how long the event loop is kept from turning
    QObject::connect(&turns, &QTimer::timeout, [&] {
        longestTurn = std::max(longestTurn, drain.elapsed() - lastTurn);
        lastTurn = drain.elapsed();
    });
    turns.start(5);
    ASSERT_TRUE(waitUntil([&] { return recordsWaiting(logging) == 0; }, 120000));
    const double seconds = static_cast<double>(drain.elapsed()) / 1000.0;
    int polls = 0;
    for (const ReadRequest& r : readRequests(sim->requests())) polls += r.address == 3 ? 1 : 0;
    std::printf("drained %d records in %.1f s with %d polls; the event loop waited at most %lld ms\n",
                kMoments * kMeters, seconds, polls, static_cast<long long>(longestTurn));

    std::ifstream in(m_workDir / "plant.csv", std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kMoments * kMeters));
    for (std::size_t i = 0; i < lines.size(); i += 997) {
        EXPECT_EQ(lines[i].substr(20, lines[i].find(',', 20) - 20), std::to_string(i % kMeters + 1)) << i;
    }
    EXPECT_LT(lines.front().substr(0, 19), lines.back().substr(0, 19));
    EXPECT_GE(polls, 1) << "the selected meter was polled while the backlog drained";
    if (seconds > 3.0) {
        EXPECT_GE(polls, static_cast<int>(seconds / 2)) << "a poll about every second";
    }
}

}  // namespace
}  // namespace quorna::test
