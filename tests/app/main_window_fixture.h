#pragma once
// The main window on the offscreen platform, started in an empty working directory, with
// helpers that wait for the event loop and answer the boxes the window opens.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "gui/main/main_window.h"
#include "metersim_harness.h"
#include "recording_operator.h"
#include "spooled_station.h"

namespace quorna::test {

// Runs the event loop until the condition holds or the time is up; true when it held.
inline bool waitUntil(const std::function<bool()>& condition, int milliseconds) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() > milliseconds) return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

inline void runEventsFor(int milliseconds) {
    waitUntil([] { return false; }, milliseconds);
}

// The visible message boxes among the top-level windows.
inline std::vector<QMessageBox*> openBoxes() {
    std::vector<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) boxes.push_back(box);
    }
    return boxes;
}

// Answers every box the window opens with OK, after a short look, and keeps what it showed.
class BoxAnswerer {
public:
    BoxAnswerer() {
        m_timer.setInterval(50);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            for (QMessageBox* box : openBoxes()) {
                shown.push_back({box->text().toStdString(), box->windowTitle().toStdString()});
                box->accept();
            }
        });
        m_timer.start();
    }
    std::vector<ShownMessage> shown;

private:
    QTimer m_timer;
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_station.fresh();
        char pattern[] = "/tmp/quorna-window-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_workDir = pattern;
        m_oldDir = std::filesystem::current_path();
        std::filesystem::current_path(m_workDir);
    }
    void TearDown() override {
        window.reset();
        m_station.drop();
        sim.reset();
        std::filesystem::current_path(m_oldDir);
        std::filesystem::remove_all(m_workDir);
    }

    void startBus(const std::vector<std::string>& meters) {
        std::vector<std::string> args;
        for (const auto& m : meters) {
            args.push_back("--meter");
            args.push_back(m);
        }
        sim = std::make_unique<MeterSimulator>(args);
        sim->useAsComPort(1);
    }

    // The test's station, made in SetUp.
    Station& station() { return m_station.get(); }

    void openWindow() {
        window = std::make_unique<MainWindow>(station(), qtOperator);
        window->show();
    }

    QtOperator qtOperator;
    std::unique_ptr<MeterSimulator> sim;
    std::unique_ptr<MainWindow> window;
    std::filesystem::path m_workDir;
    std::filesystem::path m_oldDir;

private:
    HeldStation m_station{qtOperator};
};

}  // namespace quorna::test
