// bench-main-window: the program's cost while it polls a Branch meter once a second.
// Prints the time from start to the first painted poll, then the resident memory and the CPU
// share over a minute of polling (or the number of seconds given as the first argument).
// Runs the real main window (offscreen unless QT_QPA_PLATFORM says otherwise) against the
// simulator with drifting values, started from a settings file naming COM1:.

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "gui/main/main_window.h"
#include "metersim_harness.h"

namespace {

using Clock = std::chrono::steady_clock;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long statusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
    }
    return -1;
}

class FirstPaintedPoll : public QObject {
public:
    explicit FirstPaintedPoll(QLineEdit* field) : m_field(field) { field->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && !painted && m_field->text() != "0.000") {
            painted = true;
            at = Clock::now();
        }
        return false;
    }
    bool painted = false;
    Clock::time_point at;

private:
    QLineEdit* m_field;
};

}  // namespace

int main(int argc, char** argv) {
    const auto start = Clock::now();
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 60;
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);

    quorna::test::MeterSimulator sim({"--meter", "1:230", "--drift", "on"});
    sim.useAsComPort(1);
    char pattern[] = "/tmp/quorna-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const std::filesystem::path work = pattern;
    std::filesystem::current_path(work);
    std::ofstream(work / "Quorna.cfg") << "port COM1:\nscan 1\n";

    QApplication app(argc, argv);
    const auto appReady = Clock::now();
    quorna::QtOperator op;
    quorna::Station station(op);
    auto window = std::make_unique<quorna::MainWindow>(station, op);
    window->show();
    FirstPaintedPoll firstPoll(window->controls().breakerField[0]);

    double cpuAtFirstPoll = 0;
    long rssAtFirstPoll = 0;
    QTimer waitFirst;
    waitFirst.setInterval(10);
    QObject::connect(&waitFirst, &QTimer::timeout, [&] {
        if (!firstPoll.painted) return;
        waitFirst.stop();
        cpuAtFirstPoll = cpuSeconds();
        rssAtFirstPoll = statusKb("VmRSS");
        QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    });
    waitFirst.start();
    app.exec();

    const double cpu = cpuSeconds() - cpuAtFirstPoll;
    const auto ms = [](auto d) { return std::chrono::duration<double, std::milli>(d).count(); };
    std::printf("start to first painted poll: %.0f ms (window built %.0f ms after start; the first tick comes at 1000 ms"
                " and opens the port, scans address 1 and polls)\n",
                ms(firstPoll.at - start), ms(appReady - start));
    std::printf("polling for %d s: CPU %.3f s = %.2f %% of one core\n", seconds, cpu, 100.0 * cpu / seconds);
    std::printf("resident memory: %ld kB at the first poll, %ld kB after %d s, peak %ld kB\n", rssAtFirstPoll,
                statusKb("VmRSS"), seconds, statusKb("VmHWM"));
    window.reset();
    std::filesystem::current_path("/");
    std::filesystem::remove_all(work);
    return 0;
}
