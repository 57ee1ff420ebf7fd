// quorna: the panelboard meter monitor.
#include <csignal>
#include <iostream>

#include "gui/main/monitor_app.h"

int main(int argc, char** argv) {
    // A file-size limit makes a log write fail with EFBIG, and the lines wait, rather than end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    // --help and --version are answered before the application object, which needs a display.
    if (const auto done = quorna::answerInformationOptions(argc, argv, std::cout)) return *done;
    quorna::MonitorApp app(argc, argv);
    return app.run();
}
