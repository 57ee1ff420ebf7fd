// The serial link over real pseudo-terminals with the meter simulator on the other end:
// opening by name, messages, time-outs, framing by silence, purging, and a device that goes away.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <fcntl.h>
#include <unistd.h>

#include <thread>

#include "bus/modbus_master.h"
#include "bus/posix_serial_port.h"
#include "bus/trace_ring.h"
#include "meters/meter_model.h"
#include "meters/meter_scan.h"
#include "metersim_harness.h"
#include "station_fixture.h"
#include "scripted_port.h"

namespace quorna::test {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class SerialLinkTest : public StationTest {
protected:
    void TearDown() override {
        dropStation();
        for (int n = 1; n <= 4; ++n) unsetenv(("QUORNA_COM" + std::to_string(n)).c_str());
    }
};

TEST(PortNames, ComPortsMapToDevicesAndTheEnvironmentOverridesThem) {
    unsetenv("QUORNA_COM2");
    EXPECT_EQ(deviceForPortName("COM1:"), "/dev/ttyS0");
    EXPECT_EQ(deviceForPortName("COM4:"), "/dev/ttyS3");
    setenv("QUORNA_COM2", "/dev/ttyUSB0", 1);
    EXPECT_EQ(deviceForPortName("COM2:"), "/dev/ttyUSB0");
    unsetenv("QUORNA_COM2");
    EXPECT_EQ(deviceForPortName("/dev/ttyACM0"), "/dev/ttyACM0");
}

TEST(LineCodes, UnknownSpeedAndParityCodesFallBack) {
    EXPECT_EQ(baudForSpeedCode(256), 2400);
    EXPECT_EQ(baudForSpeedCode(512), 4800);
    EXPECT_EQ(baudForSpeedCode(2048), 9600);
    EXPECT_EQ(baudForSpeedCode(8192), 19200);
    EXPECT_EQ(baudForSpeedCode(1), 9600);
    EXPECT_EQ(parityForCode(1), Parity::Odd);
    EXPECT_EQ(parityForCode(2), Parity::Even);
    EXPECT_EQ(parityForCode(7), Parity::None);
}

TEST_F(SerialLinkTest, StoredCodesReachThePortWhenItOpens) {
    auto state = std::make_shared<ScriptedPortState>();
    ScriptedPort* opened = nullptr;
    station().bus().setPortOpener([&](const std::string&) {
        auto port = std::make_unique<ScriptedPort>(state);
        opened = port.get();
        return port;
    });
    station().bus().link().speed = 1;
    station().bus().link().parity = 7;
    ASSERT_TRUE(selectPort(station().bus(), "COM2:"));
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->settings().baud, 9600);
    EXPECT_EQ(opened->settings().parity, Parity::None);
    station().bus().link().speed = kSpeed19200;
    station().bus().link().parity = kParityEven;
    EXPECT_EQ(opened->settings().baud, 9600) << "settings changed while open wait for the next open";
    ASSERT_TRUE(selectPort(station().bus(), "COM2:"));
    EXPECT_EQ(opened->settings().baud, 19200);
    EXPECT_EQ(opened->settings().parity, Parity::Even);
}

TEST_F(SerialLinkTest, OpeningAMissingPortClosesTheOpenOneAndSaysSo) {
    MeterSimulator sim({"--meter", "1:230"});
    sim.useAsComPort(1);
    setenv("QUORNA_COM2", "/nonexistent/quorna-port", 1);
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    EXPECT_TRUE(station().bus().link().portOpen);
    EXPECT_EQ(station().bus().link().portName, "COM1:");

    EXPECT_FALSE(selectPort(station().bus(), "COM2:"));
    EXPECT_FALSE(station().bus().link().portOpen);
    EXPECT_EQ(station().bus().link().portName, "COM1:") << "the name stays that of the last port opened";
    ASSERT_EQ(op.messages.size(), 1U);
    EXPECT_EQ(op.messages[0].text, "Unable to open COM2:");
    EXPECT_EQ(op.messages[0].caption, "");

    const bool scanRunning = true;  // no scan may start from here
    (void)openPort(station().bus(), "COM2:", scanRunning);
    ASSERT_EQ(op.messages.size(), 2U);
    EXPECT_EQ(op.messages[1].text, "Unable to open COM2:");
    EXPECT_EQ(op.messages[1].caption, "Comm Port Open Failure");
    EXPECT_EQ(station().bus().link().openFailures, 1);
    (void)openPort(station().bus(), "COM2:", scanRunning);
    EXPECT_EQ(station().bus().link().openFailures, 2);
    (void)openPort(station().bus(), "COM2:", scanRunning);
    EXPECT_EQ(op.messages.size(), 3U) << "after two failures a scan no longer retries on its own";
    EXPECT_EQ(station().bus().link().openFailures, 2);
}

TEST_F(SerialLinkTest, APortHeldByAnotherProgramDoesNotOpen) {
    MeterSimulator sim({"--meter", "1:230"});
    sim.useAsComPort(1);
    const int other = ::open(sim.device().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(selectPort(station().bus(), "COM1:"));
    EXPECT_EQ(op.texts(), std::vector<std::string>{"Unable to open COM1:"});
    ::close(other);
    EXPECT_TRUE(selectPort(station().bus(), "COM1:"));
}

// Opens the device as user nobody (no CAP_SYS_ADMIN) in a child process: 0 when it opened,
// 1 when the terminal was busy (exclusive), 2 for another failure, 3 when the user could not be changed.
int openAsNobody(const std::string& path) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::_exit(fd >= 0 ? 0 : (errno == EBUSY ? 1 : 2));
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST_F(SerialLinkTest, TheExclusiveModeEndsWithThePort) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to open the terminal as another user";
    MeterSimulator sim({"--meter", "1:230"});
    sim.useAsComPort(1);
    const std::string terminal = std::filesystem::canonical(sim.device()).string();
    ASSERT_EQ(::chmod(terminal.c_str(), 0666), 0);
    ASSERT_EQ(openAsNobody(terminal), 0) << "the terminal must open for nobody before Quorna takes it";
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    EXPECT_EQ(openAsNobody(terminal), 1) << "while the port is open it is exclusive";
    closePort(station().bus().link());
    EXPECT_EQ(openAsNobody(terminal), 0) << "after the close a user without privileges opens it again";
    // Opened and closed once more (a reopen), the same.
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    dropStation();
    EXPECT_EQ(openAsNobody(terminal), 0);
}

TEST_F(SerialLinkTest, ReadWriteAndSlaveIdOverThePseudoTerminal) {
    MeterSimulator sim({"--meter", "3:230"});
    sim.useAsComPort(1);
    std::vector<int> currents;
    for (int i = 0; i < 42; ++i) currents.push_back(1000 + i);
    sim.set(3, 0, currents);
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));

    std::array<std::int32_t, 49> block{};
    ASSERT_EQ(readRegisters(station().bus(), 3, 0, 49, block.data()), ModbusError::Ok);
    for (int i = 0; i < 42; ++i) EXPECT_EQ(block[static_cast<std::size_t>(i)], 1000 + i);

    ASSERT_EQ(writeRegister(station().bus(), 3, 141, 85), ModbusError::Ok);
    EXPECT_EQ(sim.get(3, 141, 1), std::vector<int>{85});

    int id = 0;
    std::string text;
    ASSERT_EQ(reportSlaveId(station().bus(), 3, id, text), ModbusError::Ok);
    EXPECT_EQ(id, 230);
    EXPECT_EQ(modelFromDeviceText(text), kBranchMeter);

    const auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 3U);
    EXPECT_EQ(requests[0].bytes, (std::vector<std::uint8_t>{0x03, 0x03, 0x00, 0x00, 0x00, 0x31, 0x85, 0xFC}));
    const auto writes = sim.writes();
    ASSERT_EQ(writes.size(), 1U);
    EXPECT_EQ(writes[0].reg, 141);
    EXPECT_EQ(writes[0].value, 85);
}

TEST_F(SerialLinkTest, ASilentMeterCostsTheFullTimeOut) {
    MeterSimulator sim({"--meter", "3:230"});
    sim.useAsComPort(1);
    sim.fault(3, "silent");
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    std::array<std::int32_t, 49> block{};
    const auto start = Clock::now();
    EXPECT_EQ(readRegisters(station().bus(), 3, 0, 49, block.data()), ModbusError::Timeout);
    const double took = secondsSince(start);
    // 800 ms plus 1 ms per byte asked (2 x 49 + 25 = 123).
    EXPECT_GE(took, 0.90);
    EXPECT_LT(took, 2.5);
}

TEST_F(SerialLinkTest, AnAnswerInTwoBurstsGivesOnlyTheFirst) {
    MeterSimulator sim({"--meter", "3:230"});
    sim.useAsComPort(1);
    sim.fault(3, "split");
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    std::array<std::int32_t, 49> block{};
    EXPECT_EQ(readRegisters(station().bus(), 3, 0, 49, block.data()), ModbusError::WrongByteCount);
    // The trace shows what the read returned: half of the 103-byte answer.
    const std::string& entry = station().bus().trace().entries[static_cast<std::size_t>(station().bus().trace().newest)];
    const auto recv = entry.find("Recv->");
    ASSERT_NE(recv, std::string::npos);
    const std::size_t bytes = (entry.size() - recv - 6 - 2 + 1) / 3;
    EXPECT_GT(bytes, 10U);
    EXPECT_LT(bytes, 103U);

    // The second burst arrived after the read ended; it is thrown away before the next request.
    sim.fault(3, "none");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(readRegisters(station().bus(), 3, 0, 49, block.data()), ModbusError::Ok);
}

TEST_F(SerialLinkTest, LateAnswersAreDiscardedBeforeTheNextRequest) {
    MeterSimulator sim({"--meter", "3:230", "--meter", "4:230"});
    sim.useAsComPort(1);
    sim.fault(3, "delay 1200");
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    std::array<std::int32_t, 49> block{};
    EXPECT_EQ(readRegisters(station().bus(), 3, 0, 49, block.data()), ModbusError::Timeout);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));  // the late answer arrives now
    sim.set(4, 0, {4444});
    EXPECT_EQ(readRegisters(station().bus(), 4, 0, 49, block.data()), ModbusError::Ok);
    EXPECT_EQ(block[0], 4444);
}

TEST_F(SerialLinkTest, TrailingBytesAndWrongAddressesAreRefused) {
    MeterSimulator sim({"--meter", "3:230"});
    sim.useAsComPort(1);
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    std::array<std::int32_t, 49> block{};
    sim.fault(3, "trailing 2");
    EXPECT_EQ(readRegisters(station().bus(), 3, 0, 49, block.data()), ModbusError::WrongByteCount);
    sim.fault(3, "wrongaddr");
    EXPECT_EQ(readRegisters(station().bus(), 3, 0, 49, block.data()), ModbusError::WrongAddress);
    sim.fault(3, "badcrc");
    EXPECT_EQ(readRegisters(station().bus(), 3, 0, 49, block.data()), ModbusError::CrcError);
    sim.fault(3, "exception");
    EXPECT_EQ(readRegisters(station().bus(), 3, 0, 49, block.data()), ModbusError::WrongByteCount)
        << "an exception reply is short, so its length fails first";
    EXPECT_EQ(writeRegister(station().bus(), 3, 141, 1), ModbusError::WrongByteCount);
    sim.fault(3, "none");
    EXPECT_EQ(readRegisters(station().bus(), 3, 400, 2, block.data()), ModbusError::WrongByteCount)
        << "a register the meter does not hold gets an exception reply";
}

TEST_F(SerialLinkTest, AnUnpluggedAdapterFailsFastAndIsReopenedWhenItIsBack) {
    const std::filesystem::path link =
        std::filesystem::temp_directory_path() / ("quorna-replug-" + std::to_string(::getpid()));
    std::filesystem::remove(link);
    setenv("QUORNA_COM3", link.c_str(), 1);
    std::array<std::int32_t, 49> block{};
    {
        MeterSimulator first({"--meter", "3:230"});
        first.set(3, 0, {1111});
        std::filesystem::create_symlink(first.device(), link);
        ASSERT_TRUE(selectPort(station().bus(), "COM3:"));
        ASSERT_EQ(readRegisters(station().bus(), 3, 0, 49, block.data()), ModbusError::Ok);
        EXPECT_EQ(block[0], 1111);
    }  // the adapter is pulled: its device hangs up
    std::filesystem::remove(link);
    const auto start = Clock::now();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(readRegisters(station().bus(), 3, 0, 49, block.data()), ModbusError::Timeout);
    EXPECT_LT(secondsSince(start), 1.5) << "a device that has gone must neither freeze nor cost a time-out each";
    EXPECT_TRUE(station().bus().link().portOpen) << "the link stays open and keeps trying the same device";

    MeterSimulator second({"--meter", "3:230"});
    second.set(3, 0, {2222});
    std::filesystem::create_symlink(second.device(), link);
    ASSERT_EQ(readRegisters(station().bus(), 3, 0, 49, block.data()), ModbusError::Ok);
    EXPECT_EQ(block[0], 2222);
    EXPECT_TRUE(op.messages.empty());
    std::filesystem::remove(link);
}

}  // namespace
TEST_F(SerialLinkTest, AHungUpTerminalIsLetGoAndOpenedAgainInPlace) {
    startBus({"1:230"});
    sim->set(1, 0, {4321});
    std::int32_t value = 0;
    ASSERT_EQ(readRegisters(station().bus(), 1, 0, 1, &value), ModbusError::Ok);

    // The terminal is hung up as the kernel does when its line drops: every handle open on it is
    // dead from now on, while the device itself stays where it was.
    const int other = ::open(sim->device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    const bool hungUp = ::ioctl(other, TIOCVHANGUP) == 0;
    ::close(other);
    if (!hungUp) GTEST_SKIP() << "hanging up a terminal needs CAP_SYS_ADMIN";

    // The dead handle shows as a silent meter once; then the same name is opened again.
    ModbusError code = ModbusError::Timeout;
    for (int attempt = 0; attempt < 3 && code != ModbusError::Ok; ++attempt) {
        value = 0;
        code = readRegisters(station().bus(), 1, 0, 1, &value);
    }
    EXPECT_EQ(code, ModbusError::Ok);
    EXPECT_EQ(value, 4321);
    EXPECT_TRUE(station().bus().link().portOpen);
    EXPECT_TRUE(op.messages.empty());
}

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes readAnswerOf(int address, int value) {
    Bytes frame{std::uint8_t(address), 3, 2, std::uint8_t(value >> 8), std::uint8_t(value & 0xFF)};
    const std::uint16_t crc = crc16(frame.data(), 5);
    frame.push_back(std::uint8_t(crc & 0xFF));
    frame.push_back(std::uint8_t(crc >> 8));
    return frame;
}

// A gateway's connection that dropped is tried again at most once a second, however many
// transactions fail meanwhile.
TEST_F(SerialLinkTest, ALostGatewayIsReconnectedAtMostOnceASecond) {
    auto state = std::make_shared<ScriptedPortState>();
    state->reopenPause = std::chrono::milliseconds(1000);
    int opens = 0;
    bool reachable = true;
    station().bus().setPortOpener([&](const std::string&) -> std::unique_ptr<SerialPort> {
        ++opens;
        if (!reachable) return nullptr;
        state->lost = false;
        return std::make_unique<ScriptedPort>(state);
    });
    ASSERT_TRUE(selectPort(station().bus(), "tcp://10.0.0.5:502"));
    std::array<std::int32_t, 1> value{};
    state->lost = true;
    reachable = false;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(readRegisters(station().bus(), 1, 0, 1, value.data()), ModbusError::Timeout);
    EXPECT_EQ(opens, 2) << "the open, then one reconnect for five transactions";

    reachable = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    state->answers.push_back(readAnswerOf(1, 42));
    EXPECT_EQ(readRegisters(station().bus(), 1, 0, 1, value.data()), ModbusError::Ok);
    EXPECT_EQ(value[0], 42);
    EXPECT_EQ(opens, 3);
    EXPECT_EQ(station().bus().link().portName, "tcp://10.0.0.5:502");
    EXPECT_TRUE(op.messages.empty()) << "reconnecting is silent";
}

}  // namespace
}  // namespace quorna::test
