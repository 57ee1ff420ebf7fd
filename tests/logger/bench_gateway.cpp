// bench-gateway: what a client of quorna-logger's Modbus TCP gateway waits for a 49-register read
// against the direct poll of the same meter on the line, and how late the logger's moments start
// while three clients keep the gateway busy. Eight Branch meters at 9600 baud, a moment at every
// tick. Prints figures; not a test.
//   bench-gateway [SECONDS (default 20)] [TICK_MS (default 1500)]
// Run it from a build without sanitizers for the real figures.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bus/modbus_master.h"
#include "logger/logger_app.h"
#include "logger_process.h"
#include "metersim_harness.h"
#include "modbus_tcp_client.h"
#include "recording_operator.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMeters = 8;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Spread {
    double median = 0, p95 = 0, max = 0;
};
Spread spread(std::vector<double> v) {
    if (v.empty()) return {};
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 95 / 100)], v.back()};
}

int gatewayPort(const quorna::test::LoggerProcess& logger) {
    const std::string said = "the Modbus TCP gateway listens on 127.0.0.1:";
    for (int i = 0; i < 500; ++i) {
        for (const std::string& line : logger.errLines()) {
            if (const auto at = line.find(said); at != std::string::npos) return std::atoi(line.c_str() + at + said.size());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quorna;
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const int tickMs = argc > 2 ? std::atoi(argv[2]) : 1500;
    std::vector<std::string> meters;
    for (int a = 1; a <= kMeters; ++a) {
        meters.push_back("--meter");
        meters.push_back(std::to_string(a) + ":230");
    }
    test::MeterSimulator sim(meters);
    sim.useAsComPort(2);

    // The direct poll: the same read on the line, nobody else on it.
    std::vector<double> direct;
    {
        test::RecordingOperator op;
        Bus bus(op);
        if (!openPort(bus, "COM2:", false)) {
            std::fprintf(stderr, "bench-gateway: cannot open the simulator's line\n");
            return 1;
        }
        std::int32_t values[49];
        for (int i = 0; i < 30; ++i) {
            const auto start = Clock::now();
            if (readRegisters(bus, 1, 0, 49, values) == ModbusError::Ok) direct.push_back(ms(Clock::now() - start));
        }
        closePort(bus.link());
    }

    const std::string dir = sim.tempDir();
    const std::string config = test::settingsIn(dir + "/bench", "interval 1\nport COM2:\nspeed 2048\nparity 0\nscan " +
                                                                     std::to_string(kMeters) + "\nsave_file " + dir +
                                                                     "/bench/readings.csv\nformat 1\n");
    test::LoggerProcess logger({"--config", config, "--gateway", ":0"},
                               {test::testClockAt(test::firstMoment(), -1, tickMs)}, dir);
    const int port = gatewayPort(logger);
    if (port == 0) {
        std::fprintf(stderr, "bench-gateway: the logger's gateway did not start\n%s", logger.errText().c_str());
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));  // the scan

    // One client, a 49-register read after another, while the logger logs.
    std::vector<double> through;
    {
        test::ModbusTcpClient client(port);
        const auto until = Clock::now() + std::chrono::seconds(seconds / 2);
        for (std::uint16_t id = 1; Clock::now() < until; ++id) {
            const auto start = Clock::now();
            client.send(id, 1, test::readPdu(0, 49));
            if (client.receive(5000)) through.push_back(ms(Clock::now() - start));
        }
    }

    // Three busy clients; the moments' starts on the line.
    sim.clearRequests();
    std::atomic<bool> stop{false};
    std::atomic<long> answers{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < 3; ++c) {
        clients.emplace_back([&, c] {
            test::ModbusTcpClient client(port);
            for (std::uint16_t id = 1; !stop; ++id) {
                client.send(id, static_cast<std::uint8_t>(1 + (id + c) % kMeters), test::readPdu(51 + 10 * c, 10));
                if (client.receive(5000)) ++answers;
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds / 2));
    stop = true;
    for (auto& t : clients) t.join();
    logger.signal(SIGTERM);
    logger.wait(10000);

    const auto requests = sim.requests();
    std::vector<std::size_t> own;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const auto& b = requests[i].bytes;
        if (b.size() == 8 && b[1] == 3 && b[2] == 0 && b[3] == 0 && b[5] == 49) own.push_back(i);
    }
    // A moment: the own reads of addresses 1 to 8 in a row.
    std::vector<std::size_t> firsts;
    for (std::size_t k = 0; k + kMeters <= own.size(); ++k) {
        bool whole = true;
        for (int a = 0; a < kMeters; ++a) whole = whole && requests[own[k + a]].bytes[0] == a + 1;
        if (whole) firsts.push_back(k);
    }
    std::vector<double> lateness;
    std::vector<double> momentLength;
    for (std::size_t m = 0; m < firsts.size(); ++m) {
        const std::size_t k = firsts[m];
        momentLength.push_back(1000.0 * (requests[own[k + kMeters - 1]].time - requests[own[k]].time));
        if (m > 0) lateness.push_back(1000.0 * (requests[own[k]].time - requests[own[firsts[m - 1] + kMeters - 1]].time) - tickMs);
    }
    const Spread d = spread(direct);
    const Spread g = spread(through);
    // Counted from the previous moment's last request, whose answer is one poll of its own.
    for (double& l : lateness) l -= d.median;
    const Spread late = spread(lateness);
    const Spread length = spread(momentLength);
    const double oneTransaction = d.max;
    const long lateBeyondOne =
        std::count_if(lateness.begin(), lateness.end(), [&](double l) { return l > oneTransaction + 100.0; });
    std::printf("direct poll, 49 registers at 9600 baud:   median %.1f ms, p95 %.1f, max %.1f (%zu reads)\n", d.median,
                d.p95, d.max, direct.size());
    std::printf("through the gateway, logger logging:      median %.1f ms, p95 %.1f, max %.1f (%zu reads)\n", g.median,
                g.p95, g.max, through.size());
    std::printf("  client's wait beyond the direct poll:   median %.1f ms, max %.1f (one own poll: %.1f ms)\n",
                g.median - d.median, g.max - d.median, d.median);
    std::printf("three busy clients: %ld answers in %d s; %zu moments of %d meters, %.1f ms long (median, max %.1f)\n",
                answers.load(), seconds / 2, momentLength.size(), kMeters, length.median, length.max);
    std::printf("  moments' start after the tick (wait %d ms, last answer and writing taken off): median %.1f ms, max %.1f; "
                "late by more than one transaction (+100 ms for writing): %ld\n",
                tickMs, late.median, late.max, lateBeyondOne);
    return 0;
}
