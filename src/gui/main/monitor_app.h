#pragma once
// The application object: owns the station, runs the main window over it until it closes, then
// the program ends.

#include <QApplication>
#include <optional>
#include <ostream>

namespace quorna {

// --help and --version, answered before the application object exists so that they need no
// display: the exit status when one of them was given (its text written to out), else nothing.
// Every other argument is left to Qt.
std::optional<int> answerInformationOptions(int argc, const char* const* argv, std::ostream& out);

class MonitorApp final : public QApplication {
    Q_OBJECT
public:
    MonitorApp(int& argc, char** argv);

    // Builds the main window, runs it, and returns the program's exit status once it closed.
    int run();
};

}  // namespace quorna
