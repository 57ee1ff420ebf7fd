// quorna-logger --gateway: other programs reach the meters on the logger's bus through its Modbus
// TCP server while the logger logs. The answers on the wire (values, transaction ids, exceptions),
// the registers written, the order of requests on the meters' line during a logging moment, the
// log file's lines, and what silence, a lost port, garbage and floods of connections do.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <ifaddrs.h>
#include <sys/wait.h>
#include <unistd.h>

#include "logger/logger_app.h"
#include "logger/modbus_gateway.h"
#include "logger_process.h"
#include "metersim_harness.h"
#include "modbus_tcp_client.h"

namespace quorna {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using test::LoggerProcess;
using test::MeterSimulator;
using test::ModbusTcpClient;
using test::anyLineHas;
using test::firstMoment;
using test::readPdu;
using test::readWholeFile;
using test::registersOf;
using test::settingsIn;
using test::testClockAt;
using test::transactionIdOf;
using test::writePdu;

using namespace std::chrono_literals;

std::string settingsWith(const std::string& logFile, int scan, const std::string& extra) {
    return "location North Plant\ninterval 1\nport COM2:\nspeed 2048\nparity 0\nscan " + std::to_string(scan) +
           "\nsave_file " + logFile + "\nformat 1\n" + extra;
}

// The port the logger's gateway listens on, from its start-up line; 0 when it did not say within 10 s.
int gatewayPort(const LoggerProcess& logger) {
    const std::string said = "the Modbus TCP gateway listens on 127.0.0.1:";
    for (int i = 0; i < 500; ++i) {
        for (const std::string& line : logger.errLines()) {
            if (const auto at = line.find(said); at != std::string::npos) return std::atoi(line.c_str() + at + said.size());
        }
        std::this_thread::sleep_for(20ms);
    }
    return 0;
}

std::vector<std::string> fileLines(const std::string& path) {
    std::vector<std::string> lines;
    const std::string text = readWholeFile(path);
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

void waitForLines(const std::string& path, std::size_t count, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (fileLines(path).size() < count && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(20ms);
}

// The PDU of an answer frame (after the MBAP header).
Bytes pduOf(const Bytes& frame) { return frame.size() > 7 ? Bytes(frame.begin() + 7, frame.end()) : Bytes{}; }

// Every logging moment from the first line's to the last line's holds one line per logged meter,
// one minute apart: none missing, none doubled.
void expectWholeMoments(const std::vector<std::string>& lines, int meters) {
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines.size() % static_cast<std::size_t>(meters), 0U) << lines.back();
    std::tm tm{};
    ASSERT_NE(strptime(lines[0].substr(0, 19).c_str(), "%m/%d/%Y %H:%M:%S", &tm), nullptr);
    tm.tm_isdst = -1;
    std::time_t moment = std::mktime(&tm);
    for (std::size_t i = 0; i < lines.size(); i += static_cast<std::size_t>(meters), moment += 60) {
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%m/%d/%Y %H:%M:%S", std::localtime(&moment));
        for (int m = 0; m < meters; ++m) {
            EXPECT_EQ(lines[i + static_cast<std::size_t>(m)].substr(0, 22), std::string(stamp) + "," + std::to_string(m + 1) + ",")
                << "line " << i + static_cast<std::size_t>(m);
        }
    }
}

TEST(LoggerGateway, ForwardsReadsWritesAndSlaveIdsAndAnswersExceptionsWhileTheLinesStayExact) {
    MeterSimulator sim({"--meter", "1:230", "--meter", "2:230", "--meter", "3:236"});
    for (int address = 1; address <= 2; ++address) {
        std::vector<int> mA;
        for (int i = 0; i < 42; ++i) mA.push_back(address * 10000 + i * 137);
        sim.set(address, 0, mA);
    }
    sim.useAsComPort(2);
    const fs::path dir = sim.tempDir();
    const std::vector<int> meter1 = sim.get(1, 0, 49);
    ASSERT_EQ(meter1.size(), 49U);

    // Three moments without the gateway: the lines the logger must write with it too.
    const std::string plainLog = (dir / "plain" / "readings.csv").string();
    {
        LoggerProcess logger({"--config", settingsIn(dir / "plain", settingsWith(plainLog, 3, ""))},
                             {testClockAt(firstMoment(), 3, 300)}, dir.string());
        waitForLines(plainLog, 6, 20s);
        logger.signal(SIGTERM);
        ASSERT_EQ(logger.wait(5000), kLoggerExitOk) << logger.errText();
    }
    ASSERT_EQ(fileLines(plainLog).size(), 6U);

    // The same with the gateway named in the settings file, a client reading all along.
    const std::string log = (dir / "gw" / "readings.csv").string();
    LoggerProcess logger({"--config", settingsIn(dir / "gw", settingsWith(log, 3, "gateway :0\n"))},
                         {testClockAt(firstMoment(), 3, 300)}, dir.string());
    const int port = gatewayPort(logger);
    ASSERT_GT(port, 0) << logger.errText();
    ModbusTcpClient client(port);
    ASSERT_TRUE(client.connected());
    std::uint16_t id = 0x7F00;
    int reads = 0;
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (fileLines(log).size() < 6 && std::chrono::steady_clock::now() < until) {
        ASSERT_TRUE(client.send(++id, 1, readPdu(0, 49)));
        const auto frame = client.receive(3000);
        ASSERT_TRUE(frame.has_value()) << "no answer to request " << id;
        EXPECT_EQ(transactionIdOf(*frame), id);
        EXPECT_EQ((*frame)[6], 1);
        EXPECT_EQ(registersOf(*frame), meter1);
        ++reads;
    }
    EXPECT_EQ(readWholeFile(log), readWholeFile(plainLog));
    EXPECT_GT(reads, 3);

    // A write: the meter's echo comes back, and the register holds the value.
    ASSERT_TRUE(client.send(0x0102, 2, writePdu(270, 7)));
    auto frame = client.receive(3000);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(*frame, (Bytes{0x01, 0x02, 0, 0, 0, 6, 2, 6, 0x01, 0x0E, 0, 7}));
    EXPECT_EQ(sim.get(2, 270, 1), std::vector<int>{7});

    // Report slave ID passes through as the meter answers it.
    ASSERT_TRUE(client.send(0x0203, 3, {17}));
    frame = client.receive(3000);
    ASSERT_TRUE(frame.has_value());
    const Bytes slaveId = pduOf(*frame);
    ASSERT_GE(slaveId.size(), 4U);
    EXPECT_EQ(slaveId[0], 17);
    EXPECT_EQ(slaveId[1], slaveId.size() - 2);
    EXPECT_NE(std::string(slaveId.begin() + 4, slaveId.end()).find("Tamsa Circuit Meter 6"), std::string::npos);

    // What the meters do not have is refused by the gateway, the bus untouched.
    sim.clearRequests();
    const std::vector<std::pair<Bytes, Bytes>> refused = {
        {{16, 0, 1, 0, 1, 2, 0, 5}, {0x90, 0x01}},  // write multiple registers
        {{4, 0, 0, 0, 1}, {0x84, 0x01}},            // read input registers
        {readPdu(0, 126), {0x83, 0x03}},            // more registers than a read may ask
        {{6, 0, 1}, {0x86, 0x03}},                  // a write cut short
    };
    for (const auto& [request, exception] : refused) {
        ASSERT_TRUE(client.send(++id, 1, request));
        frame = client.receive(3000);
        ASSERT_TRUE(frame.has_value());
        EXPECT_EQ(transactionIdOf(*frame), id);
        EXPECT_EQ(pduOf(*frame), exception);
    }
    EXPECT_TRUE(sim.requests().empty());

    // A silent meter: 0x0B within the bus's time-out (800 ms and 1 ms a byte, 35 ms of silence).
    const auto asked = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.send(0x0B0B, 9, readPdu(0, 49)));
    frame = client.receive(3000);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(*frame, (Bytes{0x0B, 0x0B, 0, 0, 0, 3, 9, 0x83, 0x0B}));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1300ms);

    // A malformed header (protocol 1) closes that connection and nothing else.
    ModbusTcpClient garbage(port);
    ASSERT_TRUE(garbage.sendRaw({0, 1, 0, 1, 0, 6, 1, 3, 0, 0, 0, 1}));
    EXPECT_TRUE(garbage.closedWithin(2000));
    ModbusTcpClient tooLong(port);
    ASSERT_TRUE(tooLong.sendRaw({0, 1, 0, 0, 0x01, 0x00, 1}));  // 256 bytes announced: no request is so long
    EXPECT_TRUE(tooLong.closedWithin(2000));
    ASSERT_TRUE(client.send(++id, 1, readPdu(0, 49)));
    frame = client.receive(3000);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(registersOf(*frame), meter1);

    logger.signal(SIGTERM);
    ASSERT_EQ(logger.wait(5000), kLoggerExitOk) << logger.errText();
    EXPECT_TRUE(anyLineHas(logger.errLines(), " info the Modbus TCP gateway listens on 127.0.0.1:" + std::to_string(port) +
                                                  " (writes from this machine only)"))
        << logger.errText();
    EXPECT_TRUE(anyLineHas(logger.errLines(), " info the Modbus TCP gateway served " + std::to_string(reads + 8) +
                                                  " requests: " + std::to_string(reads + 3) + " answered by the meters, 1 "
                                                  "without an answer (0x0B), 0 without a path (0x0A), 4 refused by the gateway"))
        << logger.errText();
    EXPECT_FALSE(anyLineHas(logger.errLines(), " error ")) << logger.errText();
}

// Three clients polling at once, two requests in flight each, while eight Branch meters are
// logged at every tick: each answer goes to its client with its transaction id and the values of
// its address and registers; the moments are whole and on time; during a moment the meters hear
// at most one gateway request between two of the logger's own reads, and some do come. It runs
// for 20 s (not a minute), which holds about eight moments of 8 meters.
TEST(LoggerGateway, ThreeBusyClientsGetTheirOwnAnswersAndTheMomentsStayOnTime) {
    constexpr int kMeters = 8;
    constexpr int kTickMs = 1500;
    std::vector<std::string> meters;
    for (int a = 1; a <= kMeters; ++a) {
        meters.push_back("--meter");
        meters.push_back(std::to_string(a) + ":230");
    }
    MeterSimulator sim(meters);
    for (int a = 1; a <= kMeters; ++a) {
        std::vector<int> ratings;
        for (int i = 0; i < 42; ++i) ratings.push_back(a * 100 + i);
        sim.set(a, 51, ratings);  // breaker ratings: register 51 + i holds a * 100 + i
    }
    sim.useAsComPort(2);
    const fs::path dir = sim.tempDir();
    const std::string log = (dir / "readings.csv").string();
    LoggerProcess logger({"--config", settingsIn(dir, settingsWith(log, kMeters, "")), "--gateway", "127.0.0.1:0"},
                         {testClockAt(firstMoment(), -1, kTickMs)}, dir.string());
    const int port = gatewayPort(logger);
    ASSERT_GT(port, 0) << logger.errText();
    waitForLines(log, kMeters, 30s);  // the scan is over and the first moment written
    sim.clearRequests();

    std::atomic<bool> stop{false};
    std::atomic<int> answers[3]{};
    std::vector<std::string> faults[3];
    std::vector<std::thread> clients;
    for (int c = 0; c < 3; ++c) {
        clients.emplace_back([&, c] {
            ModbusTcpClient client(port);
            if (!client.connected()) {
                faults[c].push_back("no connection");
                return;
            }
            // Client c reads 3 registers from 51 + 10c, of meter 1 + k % 8 at its k-th request.
            const auto send = [&](int k) {
                return client.send(static_cast<std::uint16_t>(c * 10000 + k), static_cast<std::uint8_t>(1 + k % kMeters),
                                   readPdu(51 + 10 * c, 3));
            };
            int sent = 0;
            for (; sent < 2; ++sent) send(sent);
            for (int k = 0; !stop; ++k) {
                const auto frame = client.receive(5000);
                if (!frame) {
                    faults[c].push_back("no answer to request " + std::to_string(k));
                    return;
                }
                const int unit = 1 + k % kMeters;
                const std::vector<int> expected{unit * 100 + 10 * c, unit * 100 + 10 * c + 1, unit * 100 + 10 * c + 2};
                if (transactionIdOf(*frame) != c * 10000 + k || (*frame)[6] != unit || registersOf(*frame) != expected) {
                    faults[c].push_back("request " + std::to_string(k) + " got a wrong answer");
                }
                ++answers[c];
                send(sent++ % 10000);
            }
        });
    }
    std::this_thread::sleep_for(20s);
    stop = true;
    for (auto& t : clients) t.join();
    logger.signal(SIGTERM);
    ASSERT_EQ(logger.wait(10000), kLoggerExitOk) << logger.errText();
    for (int c = 0; c < 3; ++c) {
        EXPECT_TRUE(faults[c].empty()) << "client " << c << ": " << faults[c].front();
        EXPECT_GT(answers[c].load(), 20) << "client " << c;
    }
    // The clients shared the bus about equally: none was starved by the others.
    const auto [least, most] = std::minmax({answers[0].load(), answers[1].load(), answers[2].load()});
    EXPECT_LE(most - least, 2 + most / 10) << least << " to " << most;

    const auto lines = fileLines(log);
    expectWholeMoments(lines, kMeters);
    EXPECT_GE(lines.size(), static_cast<std::size_t>(kMeters * 7)) << "moments were lost";

    // The meters' line: the logger's own reads (49 registers from 0) in moments of eight.
    const auto requests = sim.requests();
    const auto own = [](const test::SimRequest& r) {
        return r.bytes.size() == 8 && r.bytes[1] == 3 && r.bytes[2] == 0 && r.bytes[3] == 0 && r.bytes[5] == 49;
    };
    std::vector<std::size_t> ownAt;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (own(requests[i])) ownAt.push_back(i);
    }
    ASSERT_GE(ownAt.size(), static_cast<std::size_t>(kMeters * 6));
    int servedInsideMoments = 0;
    double lastEnd = -1;
    double latest = 0;
    for (std::size_t m = 0; m + kMeters <= ownAt.size(); m += kMeters) {
        for (std::size_t k = m; k + 1 < m + kMeters; ++k) {
            const std::size_t between = ownAt[k + 1] - ownAt[k] - 1;
            EXPECT_LE(between, 1U) << "between two of the logger's own reads";
            servedInsideMoments += static_cast<int>(between);
        }
        const double start = requests[ownAt[m]].time;
        if (lastEnd >= 0) latest = std::max(latest, start - lastEnd - kTickMs / 1000.0);
        lastEnd = requests[ownAt[m + kMeters - 1]].time;
    }
    EXPECT_GT(servedInsideMoments, kMeters) << "the clients waited for the ends of the moments";
    // A moment starts a tick after the last one's reads ended, late by at most one gateway
    // transaction at each end of the wait (a 3-register read: about 65 ms with the meter's
    // turnaround and the 35 ms of silence that end an answer) and the writing of the lines.
    EXPECT_LT(latest, 0.4) << "a moment started late";
}

// What nobody should be able to do to the logger through its gateway: connect and say nothing,
// open connections by the hundred, send garbage; and what a client hears from a silent meter and
// from a port that is gone. The logger keeps its moments throughout.
TEST(LoggerGateway, IdleClientsFloodsSilenceAndALostPort) {
    auto sim = std::make_unique<MeterSimulator>(std::vector<std::string>{"--meter", "1:230", "--meter", "2:230"});
    sim->useAsComPort(2);
    // The run's files outlive the simulator's folder, which goes with it.
    const fs::path dir = fs::temp_directory_path() / ("quorna-gateway-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    const std::string log = (dir / "readings.csv").string();
    LoggerProcess logger({"--config", settingsIn(dir, settingsWith(log, 2, "")), "--gateway=:0"},
                         {testClockAt(firstMoment(), -1, 300), "QUORNA_GATEWAY_IDLE_MS=1500"}, dir.string());
    const int port = gatewayPort(logger);
    ASSERT_GT(port, 0) << logger.errText();
    waitForLines(log, 2, 30s);

    // A client that says nothing is dropped after the idle time (1.5 s here, a minute otherwise).
    {
        ModbusTcpClient idle(port);
        const auto since = std::chrono::steady_clock::now();
        EXPECT_TRUE(idle.closedWithin(5000));
        EXPECT_GE(std::chrono::steady_clock::now() - since, 1400ms);
    }

    // A flood: 300 connections, a third of them sending garbage; beyond 8 clients each is closed
    // at once. The logger's moments go on, and a client that came before is served throughout.
    ModbusTcpClient steady(port);
    ASSERT_TRUE(steady.connected());
    const std::size_t before = fileLines(log).size();
    {
        std::thread flood([port] {
            std::vector<int> fds;
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<std::uint16_t>(port));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            for (int i = 0; i < 300; ++i) {
                const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
                (void)::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
                fds.push_back(fd);
                if (i % 10 == 9) std::this_thread::sleep_for(5ms);
            }
            std::this_thread::sleep_for(200ms);
            const std::uint8_t garbage[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
            for (std::size_t i = 0; i < fds.size(); i += 3) (void)::send(fds[i], garbage, sizeof garbage, MSG_NOSIGNAL);
            std::this_thread::sleep_for(1000ms);
            for (const int fd : fds) ::close(fd);
        });
        for (std::uint16_t id = 1; id <= 20; ++id) {
            ASSERT_TRUE(steady.send(id, 1, readPdu(0, 2)));
            const auto frame = steady.receive(3000);
            ASSERT_TRUE(frame.has_value()) << "the steady client was not served during the flood";
            EXPECT_EQ(transactionIdOf(*frame), id);
            std::this_thread::sleep_for(50ms);
        }
        flood.join();
    }
    const auto afterFlood = fileLines(log);
    EXPECT_GE(afterFlood.size(), before + 4) << "the moments stopped during the flood";
    expectWholeMoments(afterFlood, 2);

    // A write through the gateway is in the logger's next moment: breaker 1's current.
    ASSERT_TRUE(steady.send(0x5757, 1, writePdu(0, 54321)));
    ASSERT_TRUE(steady.receive(3000).has_value());
    waitForLines(log, fileLines(log).size() + 4, 10s);
    const auto written = fileLines(log);
    ASSERT_GE(written.size(), 2U);
    EXPECT_EQ(written[written.size() - 2].substr(19, 10), ",1,54.321,") << written[written.size() - 2];

    // A silent meter: 0x0B within the bus's time-out.
    sim->fault(2, "silent");
    auto asked = std::chrono::steady_clock::now();
    ASSERT_TRUE(steady.send(0x1234, 2, readPdu(0, 49)));
    auto frame = steady.receive(3000);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(*frame, (Bytes{0x12, 0x34, 0, 0, 0, 3, 2, 0x83, 0x0B}));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1300ms);
    sim->fault(2, "none");

    // The line is gone (the simulator and its terminal): 0x0A, at once or after the bus's time-out.
    sim.reset();
    std::this_thread::sleep_for(300ms);
    for (std::uint16_t id = 0x0A00; id < 0x0A03; ++id) {
        asked = std::chrono::steady_clock::now();
        ASSERT_TRUE(steady.send(id, 1, readPdu(0, 49)));
        frame = steady.receive(3000);
        ASSERT_TRUE(frame.has_value());
        EXPECT_EQ(pduOf(*frame), (Bytes{0x83, 0x0A}));
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 1300ms);
    }
    logger.signal(SIGTERM);
    EXPECT_EQ(logger.wait(5000), kLoggerExitOk) << logger.errText();
    // (A moment while meter 2 was silent has its line alone, and none once the line was gone.)
    EXPECT_TRUE(anyLineHas(logger.errLines(), "3 without a path (0x0A)")) << logger.errText();
    fs::remove_all(dir);
}

// The logger's own port may itself be a gateway: requests go on in that port's framing (the MBAP
// header with the logger's own transaction ids, or RTU over TCP) and come back with the client's.
TEST(LoggerGateway, ForwardsOverANetworkPortInItsFraming) {
    for (const std::string scheme : {"tcp://", "rtu+tcp://"}) {
        MeterSimulator sim({"--meter", "1:230", scheme == "tcp://" ? "--tcp" : "--rtu-tcp", "0"});
        sim.set(1, 0, {1111, 2222, 3333});
        setenv("QUORNA_COM2", sim.gatewayName(scheme).c_str(), 1);
        const fs::path dir = sim.tempDir();
        LoggerProcess logger({"--config", settingsIn(dir, settingsWith((dir / "r.csv").string(), 1, "")), "--gateway", ":0"},
                             {testClockAt(firstMoment(), 2, 300)}, dir.string());
        const int port = gatewayPort(logger);
        ASSERT_GT(port, 0) << logger.errText();
        ModbusTcpClient client(port);
        for (std::uint16_t id = 0xFFFE; id != 2; ++id) {  // the client's ids wrap; the logger's are its own
            ASSERT_TRUE(client.send(id, 1, readPdu(0, 3)));
            const auto frame = client.receive(3000);
            ASSERT_TRUE(frame.has_value()) << scheme;
            EXPECT_EQ(*frame, (Bytes{static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id & 0xFF), 0, 0, 0, 9, 1,
                                     3, 6, 0x04, 0x57, 0x08, 0xAE, 0x0D, 0x05}))
                << scheme;
        }
        ASSERT_TRUE(client.send(7, 1, writePdu(270, 5)));
        EXPECT_EQ(pduOf(client.receive(3000).value_or(Bytes{})), writePdu(270, 5)) << scheme;
        EXPECT_EQ(sim.get(1, 270, 1), std::vector<int>{5});
        logger.signal(SIGTERM);
        EXPECT_EQ(logger.wait(5000), kLoggerExitOk) << logger.errText();
        unsetenv("QUORNA_COM2");
    }
}

// What a command run prints on standard output, and its exit status.
std::pair<std::string, int> run(const std::string& command) {
    std::string out;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return {"", -1};
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = ::pclose(pipe);
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// Programs that know nothing of these meters: mbpoll reads 49 registers in TCP mode; a pymodbus
// client writes a register from the loopback (taken) and asks the slave ID; with
// "gateway_read_only on" the same write is refused with exception 0x01 and nothing is written.
TEST(LoggerGateway, MbpollAndPymodbusAsClientsAndReadOnly) {
    MeterSimulator sim({"--meter", "1:230", "--meter", "2:230"});
    std::vector<int> mA;
    for (int i = 0; i < 42; ++i) mA.push_back(20000 + i * 211);
    sim.set(1, 0, mA);
    sim.useAsComPort(2);
    const fs::path dir = sim.tempDir();
    const std::vector<int> expected = sim.get(1, 0, 49);
    {
        LoggerProcess logger({"--config", settingsIn(dir / "rw", settingsWith((dir / "rw.csv").string(), 2, "gateway :0\n"))},
                             {testClockAt(firstMoment(), 2, 300)}, dir.string());
        const int port = gatewayPort(logger);
        ASSERT_GT(port, 0) << logger.errText();

        const auto [polled, mbpollStatus] =
            run("mbpoll -m tcp -p " + std::to_string(port) + " -a 1 -r 1 -c 49 -1 -o 3 127.0.0.1 2>&1");
        EXPECT_EQ(mbpollStatus, 0) << polled;
        std::vector<int> values;
        for (int r = 1; r <= 49; ++r) {
            const std::string label = "[" + std::to_string(r) + "]: \t";
            const auto at = polled.find(label);
            if (at == std::string::npos) break;
            values.push_back(std::atoi(polled.c_str() + at + label.size()));
        }
        EXPECT_EQ(values, expected) << polled;

        const auto [said, status] = run("/usr/bin/python3 " QUORNA_GATEWAY_CLIENT_PY " " + std::to_string(port) + " 2 270 9");
        EXPECT_EQ(status, 0) << said;
        EXPECT_EQ(said, "write ok 270 9\nslave id e6ff" +
                            std::string("54616d7361204272616e63682043697263756974204d6f6e69746f722c20343220627265616b657273") +
                            "\n");  // 230, run, "Tamsa Branch Circuit Monitor, 42 breakers"
        EXPECT_EQ(sim.get(2, 270, 1), std::vector<int>{9});
        logger.signal(SIGTERM);
        EXPECT_EQ(logger.wait(5000), kLoggerExitOk) << logger.errText();
    }
    {
        LoggerProcess logger(
            {"--config", settingsIn(dir / "ro", settingsWith((dir / "ro.csv").string(), 2, "gateway_read_only on\n")),
             "--gateway", ":0"},
            {testClockAt(firstMoment(), 2, 300)}, dir.string());
        const int port = gatewayPort(logger);
        ASSERT_GT(port, 0) << logger.errText();
        sim.clearRequests();
        const auto [said, status] = run("/usr/bin/python3 " QUORNA_GATEWAY_CLIENT_PY " " + std::to_string(port) + " 2 270 11");
        EXPECT_EQ(status, 0) << said;
        EXPECT_EQ(said.substr(0, said.find('\n')), "write exception 1");
        EXPECT_TRUE(sim.writes().empty());
        EXPECT_EQ(sim.get(2, 270, 1), std::vector<int>{9});
        logger.signal(SIGTERM);
        EXPECT_EQ(logger.wait(5000), kLoggerExitOk) << logger.errText();
        EXPECT_TRUE(anyLineHas(logger.errLines(), "listens on 127.0.0.1:" + std::to_string(port) + " (no client may write)"))
            << logger.errText();
    }
}

// An IPv4 address of this machine other than the loopback, in host byte order; 0 when none.
std::uint32_t ownOtherAddress() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return 0;
    std::uint32_t found = 0;
    for (ifaddrs* i = list; i != nullptr && found == 0; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
        const std::uint32_t a = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
        if ((a >> 24) != 127) found = a;
    }
    ::freeifaddrs(list);
    return found;
}

// The listen address and the writers are taken strictly. Bound beyond the loopback, the logger
// says so at start, and a client that comes from another address than the loopback may read but
// not write, unless gateway_writers lists it.
TEST(LoggerGateway, ListenAddressWritersAndClientsBeyondTheLoopback) {
    ASSERT_TRUE(parseListenAddress(":1502").has_value());
    EXPECT_EQ(reinterpret_cast<const sockaddr_in&>(*parseListenAddress(":1502")).sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(parseListenAddress("[::1]:502")->ss_family, AF_INET6);
    EXPECT_EQ(parseListenAddress("0.0.0.0:502")->ss_family, AF_INET);
    for (const char* bad : {"1502", "host.example:502", "127.0.0.1:65536", "127.0.0.1:", "[::1:502", "1.2.3:4"}) {
        EXPECT_FALSE(parseListenAddress(bad).has_value()) << bad;
    }
    std::string bad;
    const auto blocks = parseWriters("10.0.4.0/24, 192.168.1.7 fd00::/8", &bad);
    ASSERT_TRUE(blocks.has_value());
    ASSERT_EQ(blocks->size(), 3U);
    EXPECT_EQ((*blocks)[0].bits, 24);
    EXPECT_EQ((*blocks)[1].bits, 32);
    EXPECT_TRUE((*blocks)[2].v6);
    EXPECT_FALSE(parseWriters("10.0.0.0/33", &bad).has_value());
    EXPECT_EQ(bad, "10.0.0.0/33");
    EXPECT_FALSE(parseWriters("plant-net", &bad).has_value());

    // A wrong --gateway is an option error; a wrong gateway_writers ends the start with one line.
    MeterSimulator sim({"--meter", "1:230"});
    sim.useAsComPort(2);
    const fs::path dir = sim.tempDir();
    std::vector<std::string> lines;
    EXPECT_EQ(test::runLoggerToEnd({"--gateway", "localhost"}, {}, dir.string(), &lines), kLoggerExitUnusable);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "quorna-logger: --gateway takes ADDRESS:PORT, :PORT or [IPV6]:PORT, not 'localhost'");
    const std::string config =
        settingsIn(dir / "w", settingsWith((dir / "w.csv").string(), 1, "gateway :0\ngateway_writers 10.1.2.0/24 lab\n"));
    EXPECT_EQ(test::runLoggerToEnd({"--config", config}, {}, dir.string(), &lines), kLoggerExitUnusable);
    EXPECT_TRUE(anyLineHas(lines, " error the Modbus TCP gateway cannot listen on :0: gateway_writers: lab is not an "
                                  "address or an address block"))
        << lines.back();

    // Beyond the loopback: said on standard error at start.
    LoggerProcess logger({"--config", settingsIn(dir / "any", settingsWith((dir / "any.csv").string(), 1, "")), "--gateway",
                          "0.0.0.0:0"},
                         {testClockAt(firstMoment(), 1, 300)}, dir.string());
    bool warned = false;
    for (int i = 0; i < 250 && !warned; ++i) {
        warned = anyLineHas(logger.errLines(), ", beyond this machine: anyone who reaches it can read the meters");
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(warned) << logger.errText();
    EXPECT_TRUE(anyLineHas(logger.errLines(), " warning the Modbus TCP gateway listens on 0.0.0.0:")) << logger.errText();
    const std::uint32_t other = ownOtherAddress();
    if (other == 0) {
        logger.signal(SIGTERM);
        GTEST_SKIP() << "this machine has no address beyond the loopback to come from";
    }
    const auto portOf = [](const LoggerProcess& process) {
        for (const std::string& line : process.errLines()) {
            if (const auto at = line.find("listens on 0.0.0.0:"); at != std::string::npos) return std::atoi(line.c_str() + at + 19);
        }
        return 0;
    };
    const auto writeFrom = [](int port, std::uint32_t address) {
        ModbusTcpClient client(port, address);
        EXPECT_TRUE(client.connected());
        client.send(0x0606, 1, writePdu(271, 33));
        return pduOf(client.receive(3000).value_or(Bytes{}));
    };
    const auto readFrom = [](int port, std::uint32_t address) {
        ModbusTcpClient client(port, address);
        client.send(0x0303, 1, readPdu(271, 1));
        return pduOf(client.receive(3000).value_or(Bytes{}));
    };
    sim.clearRequests();
    EXPECT_EQ(writeFrom(portOf(logger), other), (Bytes{0x86, 0x01})) << "a write from beyond the loopback";
    EXPECT_TRUE(sim.writes().empty());
    EXPECT_EQ(readFrom(portOf(logger), other).size(), 4U) << "a read from beyond the loopback";
    logger.signal(SIGTERM);
    EXPECT_EQ(logger.wait(5000), kLoggerExitOk) << logger.errText();

    char listed[INET_ADDRSTRLEN];
    const in_addr otherAddress{htonl(other)};
    ::inet_ntop(AF_INET, &otherAddress, listed, sizeof listed);
    LoggerProcess allowed(
        {"--config", settingsIn(dir / "listed", settingsWith((dir / "listed.csv").string(), 1,
                                                             "gateway 0.0.0.0:0\ngateway_writers 198.51.100.0/24 " +
                                                                 std::string(listed) + "/32\n"))},
        {testClockAt(firstMoment(), 1, 300)}, dir.string());
    for (int i = 0; i < 250 && portOf(allowed) == 0; ++i) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(writeFrom(portOf(allowed), other), writePdu(271, 33));
    EXPECT_EQ(sim.get(1, 271, 1), std::vector<int>{33});
    allowed.signal(SIGTERM);
    EXPECT_EQ(allowed.wait(5000), kLoggerExitOk) << allowed.errText();
}

}  // namespace
}  // namespace quorna
