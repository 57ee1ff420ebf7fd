// Meters behind Ethernet gateways. The same station over the pseudo-terminal, over a Modbus TCP
// gateway and over a gateway that carries RTU frames, with the same results; the frames on the
// wire; a gateway restarted while polling; gateways that cannot be reached; their names.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bus/modbus_master.h"
#include "bus/network_port.h"
#include "forms/alarms/alarm_windows.h"
#include "meters/meter_model.h"
#include "settings/configuration.h"
#include "recording_operator.h"
#include "spooled_station.h"
#include "station/station.h"
#include "station_fixture.h"

namespace quorna::test {
namespace {

std::string hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (const std::uint8_t b : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X ", b);
        text += pair;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

std::vector<std::uint8_t> withCrc(std::vector<std::uint8_t> frame) {
    const std::uint16_t crc = crc16(frame.data(), static_cast<int>(frame.size()));
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

std::vector<std::string> lines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> result;
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

// A port on the loopback that nothing listens on right now.
int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// Settings that name the port (opened at the first tick), scan up to the depth and log every
// moment to the file, at a clock that stands still.
void nameThePortAndLog(Station& s, const std::string& port, int depth, const std::filesystem::path& log) {
    s.bus().link().portName = port;
    s.bus().link().reopenRequested = true;
    s.settings().scanDepth = depth;
    s.settings().logFilePath = log.string();
    s.settings().fileLoggingEnabled = true;
    s.settings().loggingInterval = 1;
    s.logging().useClock([] { return std::time_t{1'700'000'000}; });
}

class GatewayTest : public StationTest, public ::testing::WithParamInterface<PortKind> {
protected:
    GatewayTest() { portKind = GetParam(); }
};

// The operator's whole day on one bus: the first tick opens the port the settings named, scans,
// polls and logs; then a breaker's alarm limit is set. Every kind of port gives the same.
TEST_P(GatewayTest, ScanPollSetpointAndLoggingMomentGiveTheSameResultsOnEveryPort) {
    const std::filesystem::path log =
        std::filesystem::temp_directory_path() / ("quorna-gateway-" + std::to_string(::getpid()) + ".csv");
    std::filesystem::remove(log);
    startBus({"1:230", "2:236"}, false);
    sim->set(1, 0, {1234, 2500});
    sim->command("name 1 PNL1");
    Station& s = station();
    nameThePortAndLog(s, "COM1:", 2, log);

    s.PollingCycle();

    EXPECT_TRUE(op.messages.empty()) << op.messages.front().text;
    EXPECT_EQ(s.meters().directory()[1], kBranchMeter);
    EXPECT_EQ(s.meters().directory()[2], kCircuitMeter6);
    EXPECT_EQ(s.meters().selected().address, 1);
    EXPECT_EQ(s.meters().fields().breaker[0], "1.234");
    EXPECT_EQ(s.meters().fields().breaker[1], "2.500");
    EXPECT_EQ(s.meters().fields().firstName, "PNL1");
    const auto logged = lines(log);
    ASSERT_EQ(logged.size(), 1U);
    EXPECT_NE(logged[0].find(",1,1.234,2.500,"), std::string::npos) << logged[0];

    ASSERT_EQ(s.alarms().openAlarmSetup(), AlarmSetupWindow::BreakerAlarms);
    sim->clearRequests();
    auto texts = s.alarms().breakerAlarms.showFields();
    texts[BreakerAlarmDialog::kFirstAlarmField + 6] = "85";
    EXPECT_FALSE(s.alarms().breakerAlarms.takeFields(texts));
    EXPECT_FALSE(s.alarms().breakerAlarms.ok());
    const auto writes = sim->writes();
    ASSERT_EQ(writes.size(), 1U);
    EXPECT_EQ(writes[0].address, 1);
    EXPECT_EQ(writes[0].reg, 141);
    EXPECT_EQ(writes[0].value, 85);
    EXPECT_EQ(sim->get(1, 141, 1), std::vector<int>{85});
    std::filesystem::remove(log);
}

// The trace shows the frames as they went over the port; the meters receive RTU frames either way.
TEST_P(GatewayTest, TheTraceShowsTheFramesOfThePortAndTheMetersReceiveRtu) {
    startBus({"3:230"});
    sim->set(3, 0, {0x1234});
    std::array<std::int32_t, 1> value{};
    ASSERT_EQ(readRegisters(station().bus(), 3, 0, 1, value.data()), ModbusError::Ok);
    EXPECT_EQ(value[0], 0x1234);
    const auto requests = sim->requests();
    ASSERT_EQ(requests.size(), 1U);
    const std::string request = hex(withCrc({3, 3, 0, 0, 0, 1}));
    EXPECT_EQ(hex(requests[0].bytes), request);
    const std::string& entry = station().bus().trace().entries[static_cast<std::size_t>(station().bus().trace().newest)];
    if (portKind == PortKind::ModbusTcp) {
        // Transaction 1, protocol 0, six bytes follow, unit 3; the answer: five bytes, no CRC.
        EXPECT_EQ(entry, "Send->00 01 00 00 00 06 03 03 00 00 00 01\rRecv->00 01 00 00 00 05 03 03 02 12 34\r\n");
    } else {
        EXPECT_EQ(entry, "Send->" + request + "\rRecv->" + hex(withCrc({3, 3, 2, 0x12, 0x34})) + "\r\n");
    }
    // A silent meter behind a gateway costs the same time-out as on the line.
    sim->fault(3, "silent");
    EXPECT_EQ(readRegisters(station().bus(), 3, 0, 1, value.data()), ModbusError::Timeout);
}

INSTANTIATE_TEST_SUITE_P(Ports, GatewayTest,
                         ::testing::Values(PortKind::Serial, PortKind::ModbusTcp, PortKind::RtuOverTcp),
                         [](const auto& info) { return std::string(portKindName(info.param)); });

class GatewayRestartTest : public GatewayTest {};

// The gateway goes away while the meter is polled and comes back on the same address: the meter
// looks silent meanwhile, nothing is reported about the port, and polling resumes by itself.
TEST_P(GatewayRestartTest, MetersComeBackWithoutRestartingTheProgram) {
    startBus({"3:230"});
    sim->set(3, 0, {1111});
    Station& s = station();
    s.meters().recordSlaveId(3, kBranchMeter);
    s.meters().setSelected(SelectedMeter{3, kBranchMeter});
    s.PollingCycle();
    ASSERT_EQ(s.meters().fields().breaker[0], "1.111");

    const std::string scheme = portKind == PortKind::ModbusTcp ? "tcp://" : "rtu+tcp://";
    const std::string name = sim->gatewayName(scheme);
    const std::string port = name.substr(name.rfind(':') + 1);
    sim.reset();  // the gateway restarts
    const auto down = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) s.PollingCycle();
    EXPECT_LT(std::chrono::steady_clock::now() - down, std::chrono::seconds(1))
        << "a gateway that refuses must neither freeze the window nor cost a time-out each";
    EXPECT_EQ(s.meters().consecutiveFailures(), 3);
    EXPECT_EQ(s.meters().fields().breaker[0], "");  // not known while the meter looks silent

    sim = std::make_unique<MeterSimulator>(
        std::vector<std::string>{"--meter", "3:230", portKind == PortKind::ModbusTcp ? "--tcp" : "--rtu-tcp", port});
    sim->set(3, 0, {2222});
    const auto back = std::chrono::steady_clock::now();
    while (s.meters().fields().breaker[0] != "2.222" && std::chrono::steady_clock::now() - back < std::chrono::seconds(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        s.PollingCycle();
    }
    EXPECT_EQ(s.meters().fields().breaker[0], "2.222");
    EXPECT_TRUE(s.bus().link().portOpen);
    EXPECT_EQ(s.bus().link().portName, "COM1:");
    for (const auto& m : op.messages) EXPECT_EQ(m.text.find("Unable to open"), std::string::npos) << m.text;
}

INSTANTIATE_TEST_SUITE_P(Gateways, GatewayRestartTest, ::testing::Values(PortKind::ModbusTcp, PortKind::RtuOverTcp),
                         [](const auto& info) { return std::string(portKindName(info.param)); });

extern "C" char** environ;

// A Modbus TCP server from pymodbus, an implementation independent of this one, serving a Branch
// meter at unit 3: the program scans it, polls it and logs it as it does the simulated meters.
TEST(GatewayInterop, APymodbusServerIsScannedPolledAndLogged) {
    if (std::system("/usr/bin/python3 -c 'import pymodbus.server' 2>/dev/null") != 0) {
        GTEST_SKIP() << "pymodbus is not installed (Debian package python3-pymodbus); interoperability not checked";
    }
    const int port = freeLoopbackPort();
    std::vector<std::string> args = {"/usr/bin/python3", QUORNA_PYMODBUS_SERVER, std::to_string(port), "3", "1500", "PNL7"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t server = -1;
    ASSERT_EQ(posix_spawn(&server, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    const auto start = std::chrono::steady_clock::now();
    while (!accepts(port) && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    const std::filesystem::path log =
        std::filesystem::temp_directory_path() / ("quorna-pymodbus-" + std::to_string(::getpid()) + ".csv");
    std::filesystem::remove(log);
    RecordingOperator op;
    {
        SpooledStation s(op);
        nameThePortAndLog(s, "tcp://127.0.0.1:" + std::to_string(port), 3, log);

        s.PollingCycle();

        EXPECT_EQ(s.meters().directory()[3], kBranchMeter);
        EXPECT_EQ(s.meters().selected().address, 3);
        EXPECT_EQ(s.meters().fields().breaker[0], "1.500");
        EXPECT_EQ(s.meters().fields().breaker[41], "1.500");
        EXPECT_EQ(s.meters().fields().firstName, "PNL7");
        EXPECT_EQ(s.bus().statistics().goodReads, 1) << "the logging moment's read";
    }
    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
    // The server has no units 1 and 2 and leaves them silent; the scan passes over them without a word.
    for (const auto& m : op.messages) ADD_FAILURE() << m.text;
    const auto logged = lines(log);
    ASSERT_EQ(logged.size(), 1U);
    EXPECT_NE(logged[0].find(",3,1.500,1.500,"), std::string::npos) << logged[0];
    std::filesystem::remove(log);
}

class GatewayNameTest : public StationTest {};

// A gateway that refuses the connection or whose name does not resolve fails to open as a missing
// serial device does, naming its address.
TEST_F(GatewayNameTest, ARefusedOrUnknownGatewayIsUnableToOpenByItsAddress) {
    // A socket bound but not listening: connecting to its port is refused.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string refused = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));

    EXPECT_FALSE(openPort(station().bus(), refused, false));
    const std::string unknown = "rtu+tcp://no-such-gateway.invalid:4001";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(selectPort(station().bus(), unknown));
    EXPECT_LE(std::chrono::steady_clock::now() - start, kConnectTimeout + std::chrono::milliseconds(500));
    ::close(fd);

    ASSERT_EQ(op.messages.size(), 2U);
    EXPECT_EQ(op.messages[0].text, "Unable to open " + refused);
    EXPECT_EQ(op.messages[0].caption, "Comm Port Open Failure");
    EXPECT_EQ(op.messages[1].text, "Unable to open " + unknown);
    EXPECT_EQ(op.messages[1].caption, "");
    EXPECT_FALSE(station().bus().link().portOpen);
    EXPECT_EQ(station().bus().link().openFailures, 1);
}

TEST(GatewayNames, SchemesHostsAndPortsAndHowMuchOfANameTheSettingsKeep) {
    const auto v6 = parseNetworkPortName("tcp://[::1]:502");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->framing, Framing::ModbusTcp);
    EXPECT_EQ(v6->host, "::1");
    EXPECT_EQ(v6->port, "502");
    const auto named = parseNetworkPortName("rtu+tcp://gw-7.plant.example:4001");
    ASSERT_TRUE(named);
    EXPECT_EQ(named->framing, Framing::Rtu);
    EXPECT_EQ(named->host, "gw-7.plant.example");
    EXPECT_EQ(named->port, "4001");
    for (const char* bad : {"tcp://10.0.0.5", "tcp://10.0.0.5:", "tcp://:502", "tcp://10.0.0.5:0", "tcp://10.0.0.5:65536",
                            "tcp://::1:502", "tcp://[::1]502", "udp://10.0.0.5:502", "COM1:"}) {
        EXPECT_FALSE(parseNetworkPortName(bad)) << bad;
    }

    // A gateway's name is kept up to 255 characters, a device's up to 31.
    const std::string longGateway = "tcp://" + std::string(240, 'g') + ".example:502";
    const std::string longDevice = "/dev/serial/by-id/usb-FTDI_RS485_Adapter-if00";
    ConfigurationRecord cfg;
    SerialLink link;
    parseConfiguration("port " + longGateway + "\n", cfg, link);
    EXPECT_EQ(link.portName, longGateway.substr(0, 255));
    parseConfiguration("port " + longDevice + "\n", cfg, link);
    EXPECT_EQ(link.portName, longDevice.substr(0, 31));
    EXPECT_TRUE(link.reopenRequested);
}

}  // namespace
}  // namespace quorna::test
