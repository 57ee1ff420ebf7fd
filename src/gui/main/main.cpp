// quorna: the panelboard meter monitor.
#include "gui/main/monitor_app_qt.h"

int main(int argc, char** argv) {
    quorna::MonitorApp app(argc, argv);
    return app.run();
}
