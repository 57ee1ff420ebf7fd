// bench-logger: resident memory and CPU of quorna-logger over one hour of logging 8 Branch meters
// every minute against the simulator, with the logger's test clock compressing the hour: 3600
// one-second ticks, a few milliseconds apart, 60 logging moments. Prints figures; not a test.
//   bench-logger [TICK_MS (default 5)]
// Run it from a build without sanitizers for the real figures.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

#include "logger/logger_app.h"
#include "logger_process.h"
#include "metersim_harness.h"
#include "process_figures.h"

namespace {

using quorna::test::cpuSeconds;
using quorna::test::statusKb;

constexpr int kMeters = 8;
constexpr int kTicks = 3600;
constexpr int kMoments = 60;

std::size_t lineCount(const std::string& path) {
    const std::string text = quorna::test::readWholeFile(path);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

int main(int argc, char** argv) {
    const int tickMs = argc > 1 ? std::atoi(argv[1]) : 5;
    std::vector<std::string> meters{"--drift", "on"};
    for (int a = 1; a <= kMeters; ++a) {
        meters.emplace_back("--meter");
        meters.push_back(std::to_string(a) + ":230");
    }
    quorna::test::MeterSimulator sim(meters);
    sim.useAsComPort(1);
    const std::string dir = sim.tempDir();
    const std::string logFile = dir + "/readings.csv";
    std::ofstream(dir + "/Quorna.cfg") << "interval 1\nport COM1:\nspeed 2048\nscan " << kMeters << "\nsave_file " << logFile
                                       << "\nformat 1\n";

    std::time_t start = std::time(nullptr);
    start -= start % 3600;  // on the hour: the hour's 60 moments fall on its 3600 ticks
    const std::string clock = std::string(quorna::kTestClockVariable) + "=" + std::to_string(start) + " 1 " +
                              std::to_string(tickMs) + " " + std::to_string(kTicks);
    const auto began = std::chrono::steady_clock::now();
    quorna::test::LoggerProcess logger({"--config", dir + "/Quorna.cfg"}, {clock}, dir);
    const std::size_t wanted = static_cast<std::size_t>(kMeters) * kMoments;
    while (lineCount(logFile) < wanted) {
        if (std::chrono::steady_clock::now() - began > std::chrono::minutes(15)) {
            std::fprintf(stderr, "bench-logger: only %zu of %zu lines after 15 minutes\n%s", lineCount(logFile), wanted,
                         logger.errText().c_str());
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // The rest of the hour's ticks.
    std::this_thread::sleep_for(std::chrono::milliseconds(tickMs * 60 + 500));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const double cpu = cpuSeconds(logger.pid());
    const long rss = statusKb(logger.pid(), "VmRSS");
    const long peak = statusKb(logger.pid(), "VmHWM");
    logger.signal(SIGTERM);
    const int code = logger.wait(5000);

    std::printf("quorna-logger, %d Branch meters at 9600 baud, 1-minute interval, one hour on the test clock\n", kMeters);
    std::printf("  %d ticks %d ms apart, %zu lines in %d moments, %.1f s real time\n", kTicks, tickMs, lineCount(logFile),
                kMoments, seconds);
    std::printf("  resident memory: %.2f MB now, %.2f MB at most   (goal: under 8 MB)\n", static_cast<double>(rss) / 1024.0,
                static_cast<double>(peak) / 1024.0);
    std::printf("  CPU: %.3f s for the hour = %.4f %% of one core over a real hour   (goal: under 0.1 %%)\n", cpu,
                cpu / 3600.0 * 100.0);
    std::printf("  CPU per logging moment with its ticks: %.2f ms\n", cpu * 1000.0 / kMoments);
    std::printf("  exit code after SIGTERM: %d\n", code);
    return code == 0 ? 0 : 1;
}
