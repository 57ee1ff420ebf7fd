// bench-poll: the time of one 49-register poll of a Branch meter against the simulator, next to
// what the line itself costs, and the process's CPU time per transaction. Prints figures only.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bus/modbus_master.h"
#include "bus/serial_link.h"
#include "metersim_harness.h"
#include "recording_operator.h"

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Line {
    int baud;
    int speedCode;
    const char* parity;
    int parityCode;
};

}  // namespace

int main() {
    using namespace quorna;
    constexpr int kPolls = 40;
    constexpr int kPollRegisters = 49;
    constexpr double kTurnaround = 0.005;     // the simulator's default
    constexpr double kEndOfFrameGap = 0.035;  // silence that ends a read
    constexpr int kRequestBytes = 8;
    constexpr int kAnswerBytes = 2 * kPollRegisters + 5;
    const std::vector<Line> lines{{9600, kSpeed9600, "none", kParityNone},
                                  {9600, kSpeed9600, "even", kParityEven},
                                  {19200, kSpeed19200, "none", kParityNone},
                                  {2400, kSpeed2400, "none", kParityNone}};
    std::printf("%-8s %-6s %12s %12s %8s %16s\n", "baud", "parity", "poll ms", "model ms", "ratio",
                "CPU us/transact");
    for (const Line& line : lines) {
        SilentOperator op;
        Bus bus(op);
        test::MeterSimulator sim({"--meter", "3:230", "--baud", std::to_string(line.baud), "--parity", line.parity});
        sim.useAsComPort(1);
        bus.link.speed = line.speedCode;
        bus.link.parity = line.parityCode;
        if (!selectPort(bus, "COM1:")) return 1;
        std::int32_t block[kPollRegisters];
        (void)readRegisters(bus, 3, 0, kPollRegisters, block);  // warm-up
        const double cpuBefore = cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        int failures = 0;
        for (int i = 0; i < kPolls; ++i) {
            if (readRegisters(bus, 3, 0, kPollRegisters, block) != ModbusError::Ok) ++failures;
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / kPolls;
        const double cpu = (cpuSeconds() - cpuBefore) / kPolls;
        const int bitsPerCharacter = line.parityCode == kParityNone ? 10 : 11;
        const double model = (kRequestBytes + kAnswerBytes) * bitsPerCharacter / static_cast<double>(line.baud) +
                             kTurnaround + kEndOfFrameGap;
        std::printf("%-8d %-6s %12.1f %12.1f %8.2f %16.0f%s\n", line.baud, line.parity, wall * 1e3, model * 1e3,
                    wall / model, cpu * 1e6, failures != 0 ? "  (failures!)" : "");
        closePort(bus.link);
    }
    return 0;
}
