#pragma once
// The program's only top-level window: the selected meter's readings and lamps, the meter list,
// the main menu, and the one-second timer that drives the polling cycle.

#include <QMainWindow>
#include <QRect>
#include <functional>
#include <map>
#include <memory>

#include "gui/main/app_shell.h"
#include "gui/main/dialog_units.h"
#include "gui/main/main_window_controls.h"
#include "meters/main_window_fields.h"
#include "gui/main/qt_operator.h"
#include "station/station.h"

class QAction;
class QMenu;
class QTextBrowser;

namespace quorna {

class MainWindow final : public QMainWindow, public AppShell {
    Q_OBJECT
public:
    // The window shows the station and answers for it through op, which outlive the window.
    MainWindow(Station& station, QtOperator& op);
    ~MainWindow() override;

    // AppShell
    QWidget* mainWindow() override { return this; }
    Station& station() override { return m_station; }
    void setTraceRepaint(std::function<void()> repaint) override { m_operator.setTraceRepaint(std::move(repaint)); }
    void addCommand(int id, std::function<void()> handler, const QString& menu = {}, const QString& entry = {},
                    const QKeySequence& shortcut = {}) override;
    void dispatch(int id) override;
    int runModal(QDialog& dialog) override;
    void showHelpAt(const QString& anchor) override;

    // What the operator interface asks of the window.
    void transferFields();
    void showLamps();
    void applyLayout(Layout layout);
    void showMeterList();
    // Paints the whole window at once, while the thread stays busy.
    void repaintNow();

    // Read by the tests and the program.
    [[nodiscard]] const MainWindowControls& controls() const { return m_controls; }
    [[nodiscard]] QRect listHomeRect() const { return m_listHomeRect; }
    [[nodiscard]] QRect listBandRect() const { return m_listBandRect; }
    [[nodiscard]] QAction* commandAction(int id) const;
    [[nodiscard]] bool timerRunning() const { return m_timerId != 0; }
    [[nodiscard]] QWidget* helpWindow() const;

signals:
    // The window has ended ("Exit", Enter, Esc or the close box).
    void closed();

protected:
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Runs the logging backlog's next slice from the event loop while a writer is behind.
    void scheduleCatchUp();
    bool m_catchUpScheduled = false;
    void scheduleStep();
    bool m_stepScheduled = false;

    void initialise();
    void buildMenu();
    void installCommands();
    QAction* menuEntry(QMenu* menu, const QString& text, int id);
    void exitWithOk();
    void showAbout();
    void operatorPickedMeter();
    void shutdown();

    struct Command {
        std::function<void()> handler;
        QAction* action = nullptr;
    };

    Station& m_station;
    QtOperator& m_operator;
    DialogUnits m_units;
    QWidget* m_client = nullptr;
    MainWindowControls m_controls;
    std::map<int, Command> m_commands;
    QRect m_listHomeRect;
    QRect m_listBandRect;
    int m_timerId = 0;
    bool m_syncingList = false;
    bool m_shutDown = false;
    // What the lamp controls show, so that a poll repaints only the lamps that changed.
    std::array<Lamp, 42> m_shownBreakerLamp{};
    Lamp m_shownOverAmps = Lamp::Green;
    Lamp m_shownOverVolts = Lamp::Green;
    QTextBrowser* m_help = nullptr;
};

}  // namespace quorna
