#pragma once
// A stand-in for the main window in the alarm window tests: a parent widget and the command map.

#include <QDialog>
#include <QWidget>
#include <functional>
#include <map>
#include <vector>

#include "app/app_shell.h"

namespace quorna::test {

class AlarmStubShell : public AppShell {
public:
    QWidget* mainWindow() override { return &window; }
    void addCommand(int id, std::function<void()> handler, const QString& menu, const QString& entry,
                    const QKeySequence&) override {
        commands[id] = std::move(handler);
        menuEntries[id] = menu + QLatin1Char('/') + entry;
    }
    // Records every command run; runs those bound here (the help command is not).
    void dispatch(int id) override {
        dispatched.push_back(id);
        if (auto found = commands.find(id); found != commands.end()) found->second();
    }
    int runModal(QDialog& dialog) override { return dialog.exec(); }

    QWidget window;
    std::map<int, std::function<void()>> commands;
    std::map<int, QString> menuEntries;
    std::vector<int> dispatched;
};

}  // namespace quorna::test
