// bench-live: quorna-logger with 63 Branch meters on the simulator at 19200 baud, logging every
// minute: how stale each meter's readout gets with --live (the round-robin period, against the
// wire model), the /metrics answer's time and size, and the logger's resident memory and CPU with
// and without --live --http. Prints figures; not a test.
//   bench-live [SECONDS (default 60)] [LOGGER (default: this build's quorna-logger)]
// Pass a logger built without sanitizers for the real memory and CPU figures.

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "logger_process.h"
#include "metersim_harness.h"
#include "process_figures.h"

namespace {

using quorna::test::cpuSeconds;
using quorna::test::statusKb;

using namespace std::chrono_literals;
using quorna::test::MeterSimulator;

constexpr int kMeters = 63;
constexpr int kPort = 19761;

pid_t spawn(const std::vector<std::string>& args, const std::string& errPath) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::FILE* err = std::fopen(errPath.c_str(), "w");
        if (err != nullptr) ::dup2(fileno(err), 2);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

std::string get(const std::string& path) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(kPort);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const std::string request = "GET " + path + " HTTP/1.0\r\n\r\n";
        (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char buffer[65536];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    const auto body = answer.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : answer.substr(body + 4);
}

struct Figures {
    long rssKb = 0;
    long peakKb = 0;
    double cpuPercent = 0;
};

// Runs the logger for `seconds` after its first logging moment; memory and CPU over that time.
Figures run(MeterSimulator& sim, const std::string& logger, const std::string& config, const std::vector<std::string>& extra,
            int seconds, const std::string& logFile, bool measureHttp) {
    std::vector<std::string> args{logger, "--config", config};
    args.insert(args.end(), extra.begin(), extra.end());
    const pid_t pid = spawn(args, sim.tempDir() + "/bench-live-err.txt");
    // The scan of 63 addresses comes first; the first moment's lines follow it.
    for (int i = 0; i < 600 && quorna::test::readWholeFile(logFile).empty(); ++i) std::this_thread::sleep_for(100ms);
    sim.clearRequests();
    const double cpu0 = cpuSeconds(pid);
    const auto t0 = std::chrono::steady_clock::now();
    Figures f;
    const auto end = t0 + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(1s);
        f.rssKb = statusKb(pid, "VmRSS");
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    f.cpuPercent = 100.0 * (cpuSeconds(pid) - cpu0) / elapsed;
    if (measureHttp) {
        std::vector<double> ms;
        std::size_t size = 0;
        for (int i = 0; i < 50; ++i) {
            const auto a = std::chrono::steady_clock::now();
            size = get("/metrics").size();
            ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - a).count());
        }
        std::sort(ms.begin(), ms.end());
        std::printf("  /metrics: %zu bytes, median %.2f ms, slowest %.2f ms over 50 requests; /api/v1/meters %zu bytes\n",
                    size, ms[ms.size() / 2], ms.back(), get("/api/v1/meters").size());
    }
    f.peakKb = statusKb(pid, "VmHWM");
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const std::string logger = argc > 2 ? argv[2] : QUORNA_LOGGER_PATH;
    std::vector<std::string> meters{"--baud", "19200"};
    for (int a = 1; a <= kMeters; ++a) {
        meters.push_back("--meter");
        meters.push_back(std::to_string(a) + ":230");
    }
    MeterSimulator sim(meters);
    sim.useAsComPort(2);
    const std::string dir = sim.tempDir();
    const std::string logFile = dir + "/readings.csv";
    const std::string config = quorna::test::settingsIn(
        dir + "/station", "interval 1\nport COM2:\nspeed 8192\nparity 0\nscan 63\nsave_file " + logFile + "\nformat 1\n");
    std::printf("bench-live: %d Branch meters at 19200 baud, logging every minute, %d s per run, logger %s\n", kMeters,
                seconds, logger.c_str());

    const Figures plain = run(sim, logger, config, {}, seconds, logFile, false);
    std::printf("  without --live/--http: RSS %ld kB (peak %ld kB), CPU %.2f %% of one core\n", plain.rssKb, plain.peakKb,
                plain.cpuPercent);
    std::remove(logFile.c_str());
    const Figures live = run(sim, logger, config, {"--live", "--http", ":" + std::to_string(kPort)}, seconds, logFile, true);
    std::printf("  with --live --http:    RSS %ld kB (peak %ld kB), CPU %.2f %% of one core\n", live.rssKb, live.peakKb,
                live.cpuPercent);

    // The round robin: the time between two polls of the same meter.
    std::map<int, std::vector<double>> polls;
    for (const auto& request : sim.requests()) {
        if (request.bytes.size() == 8 && request.bytes[1] == 3 && request.bytes[2] == 0 && request.bytes[3] == 0 &&
            request.bytes[5] == 49) {
            polls[request.bytes[0]].push_back(request.time);
        }
    }
    std::vector<double> gaps;
    for (const auto& [address, times] : polls) {
        for (std::size_t i = 1; i < times.size(); ++i) gaps.push_back(times[i] - times[i - 1]);
    }
    std::sort(gaps.begin(), gaps.end());
    // Wire model of one poll: 8 request and 103 answer characters of 10 bits, 5 ms turnaround, 35 ms
    // of silence that ends the answer.
    const double pollModel = (8 + 103) * 10.0 / 19200.0 + 0.005 + 0.035;
    if (!gaps.empty()) {
        std::printf("  round robin: %zu polls; period median %.2f s, 95th %.2f s, longest %.2f s; wire model %.0f ms a poll,"
                    " %.2f s for %d meters\n",
                    gaps.size() + polls.size(), gaps[gaps.size() / 2], gaps[gaps.size() * 95 / 100], gaps.back(),
                    pollModel * 1000, pollModel * kMeters, kMeters);
    }
    return 0;
}
