#pragma once
// The application object: owns the station, runs the main window over it until it closes, then
// the program ends.

#include <QApplication>

namespace quorna {

class MonitorApp final : public QApplication {
    Q_OBJECT
public:
    MonitorApp(int& argc, char** argv);

    // Builds the main window, runs it, and returns the program's exit status once it closed.
    int run();
};

}  // namespace quorna
