#pragma once
// A stand-in for the main window in window tests: a parent widget, the commands bound to it, and
// a modal run that shows the dialog and hands it to the test, which acts as the operator would.

#include <QDialog>
#include <QKeySequence>
#include <QString>
#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "gui/main/app_shell.h"
#include "station/station.h"

namespace quorna::test {

class StubAppShell : public AppShell {
public:
    // The shell's station is the one `station` returns at each call, so that a test which makes a
    // fresh station midway is followed; or the one given, for a test that keeps one throughout.
    explicit StubAppShell(std::function<Station&()> station) : m_station(std::move(station)) {}
    explicit StubAppShell(Station& station) : m_station([&station]() -> Station& { return station; }) {}
    // A shell for a test that makes no station: asking the shell for one fails the test.
    StubAppShell();

    // A test that gave a whileModal or an answer, which then never ran, fails here: its checks
    // inside were never made.
    ~StubAppShell() override;

    struct BoundCommand {
        std::function<void()> handler;
        QString menu;
        QString entry;
        QKeySequence shortcut;
    };

    QWidget* mainWindow() override { return &window; }
    // The test's station.
    Station& station() override { return m_station(); }
    void setTraceRepaint(std::function<void()> repaint) override { traceRepaint = std::move(repaint); }
    void addCommand(int id, std::function<void()> handler, const QString& menu, const QString& entry,
                    const QKeySequence& shortcut) override;
    // Records every command run and runs the one bound here. Help is the main window's own command:
    // it is recorded only. Any other command nobody bound fails the test.
    void dispatch(int id) override;
    // Shows the dialog active, hands it to `answer` (whose value is the result) or else to
    // `whileModal`, and returns its result once it has closed. A dialog the test leaves open is
    // cancelled, as Esc would.
    int runModal(QDialog& dialog) override;
    // Records the section a "Help" button asked for.
    void showHelpAt(const QString& anchor) override { helpAnchors.push_back(anchor); }

    QWidget window;
    std::map<int, BoundCommand> commands;
    std::vector<int> bound;       // every addCommand, in order
    std::vector<int> dispatched;  // every dispatch, in order
    std::vector<QString> helpAnchors;  // every showHelpAt, in order
    std::function<void(QDialog&)> whileModal;
    std::function<void()> traceRepaint;  // what a window installed as the operator's trace repaint
    std::function<int(QDialog&)> answer;
    std::vector<QString> modalTitles;  // the title of every dialog run modally, in order
    int modalRuns = 0;
    int handedToTest = 0;  // modal runs that reached answer or whileModal

private:
    std::function<Station&()> m_station;
};

// Saves the widget's picture to <build>/screenshots/<name>.png and checks that it shows something.
void saveScreenshot(QWidget& widget, const std::string& name);

}  // namespace quorna::test
