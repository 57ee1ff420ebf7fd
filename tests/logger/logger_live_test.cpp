// quorna-logger live: the meters polled between logging moments, read by a real Prometheus server
// and a real browser through the logger's HTTP endpoint, its alarm events, the wire left as it was
// without live polling, and the endpoint's answers to bad clients while logging goes on.

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <map>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <cctype>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "logger_process.h"
#include "metersim_harness.h"
#include "program_run.h"

namespace quorna {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::LoggerProcess;
using test::MeterSimulator;
using test::readWholeFile;

// A loopback TCP port nobody listens on right now.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return condition();
}

// One raw exchange: sends `request` (in pieces `pause` apart when given), returns what came back
// until the server closed or 10 s passed.
std::string rawExchange(int port, const std::string& request, std::chrono::milliseconds pause = 0ms,
                        std::size_t piece = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return "connect failed";
    }
    timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    const std::size_t step = piece == 0 ? request.size() : piece;
    for (std::size_t at = 0; at < request.size(); at += step) {
        if (::send(fd, request.data() + at, std::min(step, request.size() - at), MSG_NOSIGNAL) <= 0) break;
        if (pause.count() > 0) std::this_thread::sleep_for(pause);
    }
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return answer;
}

// GET on the loopback (HTTP/1.0, so no chunks); the status and body, or nothing when nobody answers.
std::optional<std::pair<int, std::string>> httpGet(int port, const std::string& target) {
    const std::string answer = rawExchange(port, "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    const auto bodyAt = answer.find("\r\n\r\n");
    if (answer.rfind("HTTP/1.", 0) != 0 || bodyAt == std::string::npos) return std::nullopt;
    return std::make_pair(std::atoi(answer.c_str() + 9), answer.substr(bodyAt + 4));
}

std::string urlEncoded(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_') {
            out += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
            out += hex;
        }
    }
    return out;
}

// A program of the system (Prometheus) as a child, stopped with SIGTERM at the end.
class Child {
public:
    Child(const std::vector<std::string>& args, const std::string& logPath) {
        m_pid = ::fork();
        if (m_pid == 0) {
            std::FILE* log = std::fopen(logPath.c_str(), "w");
            if (log != nullptr) {
                ::dup2(fileno(log), 1);
                ::dup2(fileno(log), 2);
            }
            std::vector<char*> argv;
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Child() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) return;
            std::this_thread::sleep_for(50ms);
        }
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

private:
    pid_t m_pid = -1;
};

// The value of a sample in an exposition, e.g. sample(text, "quorna_breaker_alarm_state{meter=\"3\",breaker=\"7\"}").
std::optional<double> sample(const std::string& exposition, const std::string& series) {
    const std::string head = "\n" + series + " ";
    const auto at = exposition.find(head);
    if (at == std::string::npos) return std::nullopt;
    return std::stod(exposition.substr(at + head.size()));
}

// A Prometheus instant query's single value, or nothing when the query has no result yet.
std::optional<double> promQuery(int port, const std::string& query) {
    const auto res = httpGet(port, "/api/v1/query?query=" + urlEncoded(query));
    if (!res || res->first != 200) return std::nullopt;
    // {"status":"success","data":{"resultType":"vector","result":[{"metric":{...},"value":[1.7e9,"4.321"]}]}}
    const std::string& body = res->second;
    const auto at = body.find("\"value\":[");
    if (at == std::string::npos) return std::nullopt;
    const auto open = body.find(",\"", at);
    const auto close = open == std::string::npos ? open : body.find('"', open + 2);
    if (close == std::string::npos) return std::nullopt;
    return std::stod(body.substr(open + 2, close - open - 2));
}

struct LiveBus {
    explicit LiveBus(std::vector<std::string> meters) : sim(std::move(meters)) { sim.useAsComPort(2); }
    MeterSimulator sim;
    fs::path dir = fs::path(sim.tempDir()) / "station";
    std::string logFile = (fs::path(sim.tempDir()) / "readings.csv").string();
    std::string config(const std::string& extra = {}) {
        return test::settingsIn(dir, "location North Plant\ninterval 1\nport COM2:\nspeed 2048\nparity 0\nscan 3\nsave_file " +
                                         logFile + "\nformat 1\n" + extra);
    }
};

// The 42 breaker currents of a Branch meter from the simulator, as the window shows them.
std::vector<std::string> simulatorBreakers(MeterSimulator& sim, int address) {
    std::vector<std::string> texts;
    for (const int mA : sim.get(address, 0, 42)) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f", mA / 1000.0);
        texts.emplace_back(text);
    }
    return texts;
}

constexpr int kBreaker7 = 6;         // its current register
constexpr int kOverAlarmMa = 17500;  // above the simulator's alarm limit (80 % of 20 A)

// Breaker 7's current above its alarm limit, and its bit in register 46 (breakers 1 to 16 in
// alarm) as the meter sets it once its alarm delay has passed; the meter updates its summary.
void raiseBreaker7(MeterSimulator& sim, int address) {
    sim.set(address, kBreaker7, {kOverAlarmMa});
    sim.set(address, 46, {1 << kBreaker7});
}

// A real Prometheus scrapes the logger every second: breaker 7's current is the simulator's, and
// after it crosses the alarm limit its alarm state is 2, one event is counted, and the events
// file and standard error have the line. promtool accepts the exposition, and the shipped
// alerting rules and dashboard name only series the logger exports.
TEST(LoggerLive, PrometheusScrapesCurrentsAndTheAlarm) {
    LiveBus bus({"--meter", "3:230", "--meter", "2:236"});
    bus.sim.set(3, kBreaker7, {4321});
    const int port = freePort();
    const std::string cfg = bus.config("live on\nhttp 127.0.0.1:" + std::to_string(port) + "\n");
    LoggerProcess logger({"--config", cfg}, {}, bus.sim.tempDir());

    const int promPort = freePort();
    const fs::path promDir = fs::path(bus.sim.tempDir()) / "prometheus";
    fs::create_directories(promDir);
    std::ofstream(promDir / "prometheus.yml") << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                                                 "scrape_configs:\n  - job_name: quorna\n    static_configs:\n"
                                                 "      - targets: ['127.0.0.1:" << port << "']\n";
    Child prometheus({"prometheus", "--config.file=" + (promDir / "prometheus.yml").string(),
                      "--storage.tsdb.path=" + (promDir / "data").string(),
                      "--web.listen-address=127.0.0.1:" + std::to_string(promPort)},
                     (promDir / "prometheus.log").string());

    const std::string current7 = R"(quorna_breaker_current_amperes{meter="3",breaker="7"})";
    const std::string state7 = R"(quorna_breaker_alarm_state{meter="3",breaker="7"})";
    EXPECT_TRUE(waitFor([&] { return promQuery(promPort, current7) == 4.321; }, 30s))
        << readWholeFile((promDir / "prometheus.log").string()) << logger.errText();
    EXPECT_EQ(promQuery(promPort, state7), 0.0);
    EXPECT_EQ(promQuery(promPort, R"(quorna_meter_up{meter="3",model="branch",name="PNL1",location="North Plant"})"), 1.0);

    raiseBreaker7(bus.sim, 3);
    EXPECT_TRUE(waitFor([&] { return promQuery(promPort, state7) == 2.0; }, 15s)) << logger.errText();
    EXPECT_TRUE(waitFor([&] { return promQuery(promPort, R"(quorna_alarm_events_total{meter="3",level="alarm"})") == 1.0; }, 10s));
    EXPECT_EQ(promQuery(promPort, current7), 17.5);

    // The events file beside the settings: time, meter, name, breaker, old and new state, value.
    const std::string events = readWholeFile((bus.dir / "Quorna-events.txt").string());
    ASSERT_EQ(std::count(events.begin(), events.end(), '\n'), 1) << events;
    ASSERT_GT(events.size(), 19U);
    EXPECT_EQ(events.substr(19), "\t3\tPNL1\tbreaker 7\tnormal\talarm\t17.500 A\n");
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char today[16];
    std::strftime(today, sizeof today, "%Y-%m-%d ", &tm);
    EXPECT_EQ(events.substr(0, 11), today);
    EXPECT_TRUE(test::anyLineHas(logger.errLines(), "warning meter 3 PNL1 breaker 7: alarm (17.500 A), was normal"))
        << logger.errText();

    // The exposition itself passes promtool; the rules and the dashboard use only its names.
    const auto metrics = httpGet(port, "/metrics");
    ASSERT_TRUE(metrics);
    const std::string metricsFile = (promDir / "metrics.txt").string();
    std::ofstream(metricsFile) << metrics->second;
    const auto check = test::runProgram("/usr/bin/env", {"bash", "-c", "promtool check metrics < " + metricsFile});
    EXPECT_EQ(check.code, 0) << check.out << check.err;
    EXPECT_TRUE(sample(metrics->second, R"(quorna_phase_voltage_volts{meter="2",phase="AN"})")) << metrics->second;
    EXPECT_TRUE(sample(metrics->second, "quorna_logging_moments_total").value_or(0) >= 1);
    EXPECT_GT(sample(metrics->second, R"(quorna_bus_transactions_total{result="ok"})").value_or(0), 10);
    const auto dist = test::runProgram(
        "/usr/bin/env", {"python3", QUORNA_SOURCE_DIR "/dist/monitoring/check_monitoring.py", metricsFile,
                    QUORNA_SOURCE_DIR "/dist/monitoring/quorna-alerts.yml", QUORNA_SOURCE_DIR "/dist/monitoring/quorna-panelboard.json"});
    EXPECT_EQ(dist.code, 0) << dist.out << dist.err;

    logger.signal(SIGTERM);
    EXPECT_EQ(logger.wait(10000), 0) << logger.errText();
}

// The page in a real headless Chromium: meter 3's 42 values are the simulator's, and breaker 7's
// lamp turns red once its current crosses the alarm limit.
std::string pageDom(int port) {
    const auto run = test::runProgram(
        "/usr/bin/env", {"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
                     "--virtual-time-budget=4000", "--dump-dom", "http://127.0.0.1:" + std::to_string(port) + "/#3"},
        {}, 60000);
    return run.out;
}

std::map<int, std::pair<std::string, std::string>> breakerCells(const std::string& dom) {
    std::map<int, std::pair<std::string, std::string>> cells;  // breaker -> (text, lamp)
    // <td id="breaker-7" data-lamp="red">17.500</td>
    const std::string head = "<td id=\"breaker-";
    for (auto at = dom.find(head); at != std::string::npos; at = dom.find(head, at + 1)) {
        const auto lampAt = dom.find("\" data-lamp=\"", at);
        const auto textAt = dom.find("\">", lampAt + 13);
        const auto end = dom.find("</td>", textAt);
        if (lampAt == std::string::npos || textAt == std::string::npos || end == std::string::npos) break;
        const int breaker = std::stoi(dom.substr(at + head.size(), lampAt - at - head.size()));
        cells[breaker] = {dom.substr(textAt + 2, end - textAt - 2), dom.substr(lampAt + 13, textAt - lampAt - 13)};
    }
    return cells;
}

TEST(LoggerLive, BrowserShowsTheBreakersAndTheRedLamp) {
    LiveBus bus({"--meter", "3:230", "--meter", "2:230"});
    const int port = freePort();
    LoggerProcess logger({"--config", bus.config(), "--live", "--http", ":" + std::to_string(port)}, {}, bus.sim.tempDir());
    ASSERT_TRUE(waitFor([&] {
        const auto json = httpGet(port, "/api/v1/meters");
        return json && json->second.find(R"("address":3,"model":"branch","name":"PNL1","up":true)") != std::string::npos;
    }, 30s)) << logger.errText();

    const auto cells = breakerCells(pageDom(port));
    const std::vector<std::string> expected = simulatorBreakers(bus.sim, 3);
    ASSERT_EQ(cells.size(), 42U) << pageDom(port);
    for (int b = 1; b <= 42; ++b) {
        EXPECT_EQ(cells.at(b).first, expected[static_cast<std::size_t>(b - 1)]) << "breaker " << b;
        EXPECT_EQ(cells.at(b).second, "green") << "breaker " << b;
    }

    raiseBreaker7(bus.sim, 3);
    ASSERT_TRUE(waitFor([&] {
        const auto m = httpGet(port, "/metrics");
        return m && sample(m->second, R"(quorna_breaker_alarm_state{meter="3",breaker="7"})") == 2.0;
    }, 15s));
    const auto after = breakerCells(pageDom(port));
    ASSERT_EQ(after.size(), 42U);
    EXPECT_EQ(after.at(7), std::make_pair(std::string("17.500"), std::string("red")));
    EXPECT_EQ(after.at(8).second, "green");
    logger.signal(SIGTERM);
    EXPECT_EQ(logger.wait(10000), 0);
}

// Without live polling (and with the HTTP endpoint on) the meters hear exactly what they heard
// before: the scan and the logging moments' reads, the same requests as a run without --http.
// With --live the window's poll block of every meter comes in between, and the moments log the
// very same lines.
TEST(LoggerLive, WithoutLiveTheWireIsUnchanged) {
    struct Run {
        std::vector<test::ReadRequest> reads;
        std::string log;
    };
    const auto run = [](const std::vector<std::string>& extra) {
        LiveBus bus({"--meter", "3:230", "--meter", "2:236"});
        std::vector<std::string> args{"--config", bus.config()};
        args.insert(args.end(), extra.begin(), extra.end());
        // 13 ten-second ticks 250 ms apart: logging moments at the first, the 7th and the 13th.
        LoggerProcess logger(args, {std::string("QUORNA_LOGGER_TEST_CLOCK=") + std::to_string(test::firstMoment()) + " 10 250 13"},
                             bus.sim.tempDir());
        std::this_thread::sleep_for(8s);
        logger.signal(SIGTERM);
        EXPECT_EQ(logger.wait(10000), 0) << logger.errText();
        return Run{test::readRequests(bus.sim.requests()), readWholeFile(bus.logFile)};
    };
    const Run plain = run({});
    const Run withHttp = run({"--http", ":" + std::to_string(freePort())});
    EXPECT_EQ(withHttp.reads, plain.reads);
    const Run live = run({"--live"});
    const auto polls = [](const std::vector<test::ReadRequest>& reads, test::ReadRequest r) {
        return std::count(reads.begin(), reads.end(), r);
    };
    EXPECT_EQ(polls(plain.reads, {3, 0, 49}), 3);  // the logging moments' reads
    EXPECT_EQ(polls(plain.reads, {2, 0, 37}), 0);  // a Circuit meter is listed, not logged
    EXPECT_GE(polls(live.reads, {3, 0, 49}), 3 + 2);
    EXPECT_GE(polls(live.reads, {2, 0, 37}), 2);
    EXPECT_EQ(std::count(plain.log.begin(), plain.log.end(), '\n'), 3) << plain.log;
    EXPECT_EQ(live.log, plain.log);
    EXPECT_EQ(withHttp.log, plain.log);
}

std::string statusLine(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

long threadsOf(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Threads:", 0) == 0) return std::stol(line.substr(8));
    }
    return -1;
}

// Bad clients against the endpoint: each gets a clear status or is dropped, the threads stay
// bounded, and the logger logs every moment's line meanwhile.
TEST(LoggerLive, BadHttpClientsLeaveLoggingAlone) {
    LiveBus bus({"--meter", "3:230"});
    const int port = freePort();
    // 40 one-minute ticks 250 ms apart: a logging moment at each.
    LoggerProcess logger({"--config", bus.config(), "--live", "--http", ":" + std::to_string(port)},
                         {test::testClockAt(test::firstMoment(), 40, 250)}, bus.sim.tempDir());
    ASSERT_TRUE(waitFor([&] { return httpGet(port, "/metrics").has_value(); }, 20s)) << logger.errText();

    EXPECT_EQ(statusLine(rawExchange(port, "GET /" + std::string(100000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n")),
              "HTTP/1.0 400 Bad Request");
    const std::string bigHeader = "GET /metrics HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(20000, 'b') + "\r\n\r\n";
    EXPECT_EQ(statusLine(rawExchange(port, bigHeader)), "HTTP/1.0 400 Bad Request");
    EXPECT_EQ(statusLine(rawExchange(port, "GET /../../etc/passwd HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")),
              "HTTP/1.1 404 Not Found");
    EXPECT_EQ(statusLine(rawExchange(port, "GET /%2e%2e/%2e%2e/etc/passwd HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")),
              "HTTP/1.1 404 Not Found");
    const std::string post = rawExchange(port, "POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(statusLine(post), "HTTP/1.1 405 Method Not Allowed");
    EXPECT_NE(post.find("Allow: GET, HEAD"), std::string::npos);

    // A slow client sending a byte a second is refused 2 s after its first byte, with nothing served.
    const auto slowStart = std::chrono::steady_clock::now();
    EXPECT_EQ(statusLine(rawExchange(port, "GET /metrics HTTP/1.1\r\n\r\n", 1s, 1)), "HTTP/1.0 400 Bad Request");
    EXPECT_LT(std::chrono::steady_clock::now() - slowStart, 6s);

    // 200 clients at once: every one is answered, with 4 HTTP threads at most besides the logger's.
    std::vector<std::thread> clients;
    std::atomic<int> answered{0};
    std::atomic<long> mostThreads{0};
    for (int i = 0; i < 200; ++i) {
        clients.emplace_back([&] {
            const std::string answer = rawExchange(port, "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
            if (statusLine(answer) == "HTTP/1.1 200 OK") ++answered;
            mostThreads = std::max(mostThreads.load(), threadsOf(logger.pid()));
        });
    }
    for (std::thread& t : clients) t.join();
    EXPECT_EQ(answered.load(), 200);
    EXPECT_LE(mostThreads.load(), 1 + 1 + 4);  // the loop, the acceptor, the workers

    // The clock stands still after 40 ticks: the logger runs on until told to stop.
    EXPECT_TRUE(waitFor([&] {
        const std::string text = readWholeFile(bus.logFile);
        return std::count(text.begin(), text.end(), '\n') >= 40;
    }, 30s));
    logger.signal(SIGTERM);
    EXPECT_EQ(logger.wait(10000), 0) << logger.errText();
    // Every one of the 40 moments logged its one line, in order.
    std::ifstream log(bus.logFile);
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 40U) << logger.errText();
    for (int k = 0; k < 40; ++k) {
        const std::time_t t = test::firstMoment() + 60L * k;
        std::tm tm{};
        localtime_r(&t, &tm);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%m/%d/%Y %H:%M:%S,3,", &tm);
        EXPECT_EQ(lines[static_cast<std::size_t>(k)].rfind(stamp, 0), 0U) << lines[static_cast<std::size_t>(k)];
    }
}

}  // namespace
}  // namespace quorna
