#include "gui/main/monitor_app.h"

#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gui/main/main_window.h"

namespace quorna {
namespace {

constexpr int kDefaultScreenshotSeconds = 15;

// For demonstrations without an operator: QUORNA_SCREENSHOT=file.png saves a picture of the
// window QUORNA_SCREENSHOT_AFTER seconds (default 15) after start, then ends the program.
void scheduleScreenshot(MainWindow& window) {
    const char* path = std::getenv("QUORNA_SCREENSHOT");
    if (path == nullptr || *path == '\0') return;
    int seconds = kDefaultScreenshotSeconds;
    if (const char* after = std::getenv("QUORNA_SCREENSHOT_AFTER")) seconds = std::max(1, std::atoi(after));
    const QString file = QString::fromLocal8Bit(path);
    QTimer::singleShot(seconds * 1000, &window, [&window, file] {
        const bool saved = window.grab().save(file, "PNG");
        std::fprintf(stderr, saved ? "quorna: screenshot saved to %s\n" : "quorna: could not save %s\n",
                     file.toLocal8Bit().constData());
        window.close();
    });
}

}  // namespace

std::optional<int> answerInformationOptions(int argc, const char* const* argv, std::ostream& out) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            out << "Usage: quorna [--help] [--version]\n"
                   "Monitors and configures the panelboard meters of a bus (a serial port or an Ethernet\n"
                   "gateway) in a window, and logs their readings to a file and a database.\n"
                   "The settings are in Quorna.cfg in the working directory; the Help menu opens the manual.\n"
                   "For logging without a window, see quorna-logger(1).\n"
                   "\n"
                   "  --help      show this text\n"
                   "  --version   show the version\n"
                   "Qt's own options (-platform NAME, ...) are taken as well.\n";
            return 0;
        }
        if (arg == "--version") {
            out << "quorna " << QUORNA_VERSION << "\n";
            return 0;
        }
    }
    return std::nullopt;
}

MonitorApp::MonitorApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Quorna"));
    setApplicationVersion(QStringLiteral(QUORNA_VERSION));
}

int MonitorApp::run() {
    QtOperator op;
    Station station(op);
    MainWindow window(station, op);
    connect(&window, &MainWindow::closed, this, &QApplication::quit, Qt::QueuedConnection);
    window.show();
    scheduleScreenshot(window);
    exec();
    return 0;
}

}  // namespace quorna
