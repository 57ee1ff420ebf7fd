// bench-poll: the time of one 49-register poll of a Branch meter against the simulator, next to
// what the line itself costs, and the process's CPU time per transaction; then the same poll
// through the simulator's gateways on the loopback (Modbus TCP and RTU over TCP) next to the
// pseudo-terminal. Prints figures only.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
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

struct Timing {
    double wall;  // seconds per poll
    double cpu;   // CPU seconds per poll
    int failures;
};

// Polls the Branch meter at 3 on COM1: kPolls times after one warm-up poll.
Timing timePolls(quorna::Bus& bus, int polls, int registers) {
    using namespace quorna;
    std::vector<std::int32_t> block(static_cast<std::size_t>(registers));
    (void)readRegisters(bus, 3, 0, registers, block.data());  // warm-up
    const double cpuBefore = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    int failures = 0;
    for (int i = 0; i < polls; ++i) {
        if (readRegisters(bus, 3, 0, registers, block.data()) != ModbusError::Ok) ++failures;
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / polls;
    return Timing{wall, (cpuSeconds() - cpuBefore) / polls, failures};
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
        bus.link().speed = line.speedCode;
        bus.link().parity = line.parityCode;
        if (!selectPort(bus, "COM1:")) return 1;
        const auto [wall, cpu, failures] = timePolls(bus, kPolls, kPollRegisters);
        const int bitsPerCharacter = line.parityCode == kParityNone ? 10 : 11;
        const double model = (kRequestBytes + kAnswerBytes) * bitsPerCharacter / static_cast<double>(line.baud) +
                             kTurnaround + kEndOfFrameGap;
        std::printf("%-8d %-6s %12.1f %12.1f %8.2f %16.0f%s\n", line.baud, line.parity, wall * 1e3, model * 1e3,
                    wall / model, cpu * 1e6, failures != 0 ? "  (failures!)" : "");
        closePort(bus.link());
    }

    // The same poll through a gateway on the loopback whose line runs at the given speed. A
    // Modbus TCP answer ends by its length; over RTU (pseudo-terminal, RTU over TCP) the read
    // still waits for the end-of-frame silence.
    struct Port {
        const char* name;
        const char* option;  // nullptr: the pseudo-terminal
        const char* scheme;
        bool endsByLength;
    };
    const std::vector<Port> ports{{"serial", nullptr, "", false},
                                  {"tcp", "--tcp", "tcp://", true},
                                  {"rtu+tcp", "--rtu-tcp", "rtu+tcp://", false}};
    std::printf("\n%-8s %-8s %12s %12s %8s %16s\n", "port", "baud", "poll ms", "model ms", "ratio", "CPU us/transact");
    for (const int baud : {9600, 19200}) {
        for (const Port& port : ports) {
            SilentOperator op;
            Bus bus(op);
            std::vector<std::string> args{"--meter", "3:230", "--baud", std::to_string(baud)};
            if (port.option != nullptr) {
                args.push_back(port.option);
                args.push_back("0");
            }
            test::MeterSimulator sim(args);
            if (port.option == nullptr) {
                sim.useAsComPort(1);
            } else {
                setenv("QUORNA_COM1", sim.gatewayName(port.scheme).c_str(), 1);
            }
            bus.link().speed = baud == 9600 ? kSpeed9600 : kSpeed19200;
            if (!selectPort(bus, "COM1:")) return 1;
            const auto [wall, cpu, failures] = timePolls(bus, kPolls, kPollRegisters);
            const double model = (kRequestBytes + kAnswerBytes) * 10 / static_cast<double>(baud) + kTurnaround +
                                 (port.endsByLength ? 0.0 : kEndOfFrameGap);
            std::printf("%-8s %-8d %12.1f %12.1f %8.2f %16.0f%s\n", port.name, baud, wall * 1e3, model * 1e3,
                        wall / model, cpu * 1e6, failures != 0 ? "  (failures!)" : "");
            closePort(bus.link());
        }
    }
    unsetenv("QUORNA_COM1");
    return 0;
}
