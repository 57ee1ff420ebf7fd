// bench-logging: how long one logging moment takes for 1, 8 and 63 listed Branch meters against
// the meter simulator at 9600 and 19200 baud, next to what the wire alone costs. Prints figures;
// it is not a test.
//
// Wire-time model per meter: (8 request bytes + 103 response bytes) x 10 bits / baud, plus the
// meter's turnaround, plus the 35 ms of silence by which the master recognises the end of an answer.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "bus/serial_link.h"
#include "logging/logging_sampler.h"
#include "logging/readings_record.h"
#include "meters/meter_list.h"
#include "meters/meters.h"
#include "metersim_harness.h"
#include "recording_operator.h"
#include "spooled_station.h"
#include "settings/configuration.h"

namespace {

using namespace quorna;
using Clock = std::chrono::steady_clock;

constexpr int kTurnaroundMs = 5;
constexpr int kEndOfFrameGapMs = 35;
constexpr int kRequestBytes = 8;
constexpr int kResponseBytes = 2 * 49 + 5;
constexpr int kBitsPerCharacter = 10;

double modelSeconds(int meters, int baud) {
    const double wire = static_cast<double>((kRequestBytes + kResponseBytes) * kBitsPerCharacter) / baud;
    return meters * (wire + (kTurnaroundMs + kEndOfFrameGapMs) / 1000.0);
}

struct Figures {
    double best = 0;
    double mean = 0;
    int lines = 0;
};

Figures measure(int meters, int baud, int speedCode, int moments, const std::string& logPath) {
    test::RecordingOperator op;
    test::SpooledStation station(op);
    std::vector<std::string> args{"--baud", std::to_string(baud), "--turnaround", std::to_string(kTurnaroundMs)};
    for (int address = 1; address <= meters; ++address) {
        args.push_back("--meter");
        args.push_back(std::to_string(address) + ":230");
    }
    test::MeterSimulator sim(args);
    sim.useAsComPort(1);
    station.bus().link().speed = speedCode;
    if (!selectPort(station.bus(), "COM1:")) return {};
    for (int address = 1; address <= meters; ++address) {
        char name[8];
        std::snprintf(name, sizeof name, "P%03d", address);
        station.meters().list().insert(station.meters().list().count(),
                                   MeterEntry{address, kBranchMeter, name, "Tamsa Branch Circuit Monitor, 42 breakers"});
    }
    std::filesystem::remove(logPath);
    station.settings().logFilePath = logPath;
    station.settings().fileLoggingEnabled = true;
    station.settings().loggingInterval = 1;

    std::time_t now = std::time(nullptr);
    station.logging().useClock([&now] { return now; });
    Figures figures;
    figures.best = 1e9;
    double total = 0;
    for (int i = 0; i < moments; ++i) {
        now += 60;
        const auto start = Clock::now();
        LoggingSampler(station.logging());
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        figures.best = std::min(figures.best, seconds);
        total += seconds;
    }
    figures.mean = total / moments;
    figures.lines = station.bus().statistics().goodReads;
    closePort(station.bus().link());
    station.logging().useClock(nullptr);
    return figures;
}

}  // namespace

int main() {
    quorna::test::RecordingOperator op;
    char pattern[] = "/tmp/quorna-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const std::string logPath = std::string(pattern) + "/bench.csv";

    std::printf("One logging moment, Branch meters read one after the other (49 registers each)\n");
    std::printf("%6s %7s %8s %11s %11s %11s %7s %10s\n", "baud", "meters", "moments", "best s", "mean s",
                "model s", "ratio", "good reads");
    const struct {
        int baud;
        int code;
    } speeds[] = {{9600, kSpeed9600}, {19200, kSpeed19200}};
    for (const auto& speed : speeds) {
        for (const int meters : {1, 8, 63}) {
            const int moments = meters == 63 ? 2 : 5;
            const Figures f = measure(meters, speed.baud, speed.code, moments, logPath);
            const double model = modelSeconds(meters, speed.baud);
            std::printf("%6d %7d %8d %11.3f %11.3f %11.3f %7.2f %10d\n", speed.baud, meters, moments, f.best, f.mean,
                        model, f.mean / model, f.lines);
        }
    }
    std::filesystem::remove_all(pattern);
    return 0;
}
