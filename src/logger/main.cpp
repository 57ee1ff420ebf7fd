// quorna-logger: logs the meters of one bus without a window (see logger_app.h).
#include <csignal>
#include <iostream>

#include "logger/logger_app.h"

int main(int argc, char** argv) {
    // SIGTERM and SIGINT (stop) and SIGHUP (read the settings again) are taken between ticks only,
    // by sigtimedwait in the logger's loop.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGHUP);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    // A file-size limit (ulimit -f, a quota) makes a write fail with EFBIG rather than end the
    // logger: the lines then wait in the spool like any that a log file could not take.
    std::signal(SIGXFSZ, SIG_IGN);

    std::string error;
    const auto options = quorna::parseLoggerOptions(argc, argv, &error);
    if (!options) {
        std::cerr << quorna::loggerOptionErrorText(error);
        return quorna::kLoggerExitUnusable;
    }
    if (options->help) {
        std::cout << quorna::loggerUsage();
        return quorna::kLoggerExitOk;
    }
    if (options->version) {
        std::cout << "quorna-logger " << QUORNA_VERSION << "\n";
        return quorna::kLoggerExitOk;
    }
    return quorna::runLogger(*options, std::cerr);
}
