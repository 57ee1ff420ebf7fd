// The master against an independent slave: libmodbus answering on the other end of a
// pseudo-terminal. Reads, writes and report slave ID must agree with it byte for byte.

#include <gtest/gtest.h>
#include <modbus.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "bus/modbus_master.h"
#include "meters/meter_model.h"
#include "station_fixture.h"

namespace quorna::test {
namespace {

constexpr int kSlaveAddress = 17;

// A libmodbus RTU slave serving holding registers on the master side of a fresh pseudo-terminal.
class LibmodbusSlave {
public:
    LibmodbusSlave() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) throw std::runtime_error("pty");
        termios tio{};
        ::tcgetattr(m_master, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_master, TCSANOW, &tio);
        m_slavePath = ::ptsname(m_master);
        m_mapping = modbus_mapping_new(0, 0, 1024, 0);
        for (int i = 0; i < 1024; ++i) m_mapping->tab_registers[i] = static_cast<std::uint16_t>(i * 3);
        // The context never opens a device: it serves the pseudo-terminal's master side.
        m_ctx = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
        modbus_set_slave(m_ctx, kSlaveAddress);
        modbus_set_socket(m_ctx, m_master);
        m_thread = std::thread([this] { serve(); });
    }
    ~LibmodbusSlave() {
        m_stop = true;
        m_thread.join();
        modbus_set_socket(m_ctx, -1);
        modbus_free(m_ctx);
        modbus_mapping_free(m_mapping);
        ::close(m_master);
    }
    LibmodbusSlave(const LibmodbusSlave&) = delete;
    LibmodbusSlave& operator=(const LibmodbusSlave&) = delete;

    const std::string& path() const { return m_slavePath; }
    std::uint16_t reg(int i) const { return m_mapping->tab_registers[i]; }

private:
    void serve() {
        std::uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
        modbus_set_indication_timeout(m_ctx, 0, 100000);
        while (!m_stop) {
            const int n = modbus_receive(m_ctx, request);
            if (n > 0) modbus_reply(m_ctx, request, n, m_mapping);
        }
    }

    int m_master = -1;
    std::string m_slavePath;
    modbus_mapping_t* m_mapping = nullptr;
    modbus_t* m_ctx = nullptr;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class LibmodbusInteropTest : public StationTest {
protected:
    void SetUp() override {
        setenv("QUORNA_COM4", slave.path().c_str(), 1);
        ASSERT_TRUE(selectPort(station().bus(), "COM4:"));
    }
    void TearDown() override {
        dropStation();
        unsetenv("QUORNA_COM4");
    }
    LibmodbusSlave slave;
};

TEST_F(LibmodbusInteropTest, ReadsWhatTheSlaveHolds) {
    std::array<std::int32_t, 125> values{};
    ASSERT_EQ(readRegisters(station().bus(), kSlaveAddress, 100, 125, values.data()), ModbusError::Ok);
    for (int i = 0; i < 125; ++i) EXPECT_EQ(values[static_cast<std::size_t>(i)], (100 + i) * 3);
    std::array<std::int32_t, 49> poll{};
    ASSERT_EQ(readRegisters(station().bus(), kSlaveAddress, 0, 49, poll.data()), ModbusError::Ok);
    EXPECT_EQ(poll[48], 144);
}

TEST_F(LibmodbusInteropTest, WritesAreEchoedAndStored) {
    ASSERT_EQ(writeRegister(station().bus(), kSlaveAddress, 269, 85), ModbusError::Ok);
    EXPECT_EQ(slave.reg(269), 85);
    ASSERT_EQ(writeRegister(station().bus(), kSlaveAddress, 1023, 65535), ModbusError::Ok);
    EXPECT_EQ(slave.reg(1023), 65535);
}

TEST_F(LibmodbusInteropTest, ExceptionRepliesAndSlaveIdFollowTheCheckOrder) {
    std::array<std::int32_t, 10> values{};
    // Beyond the slave's registers: libmodbus answers with a 5-byte exception reply.
    EXPECT_EQ(readRegisters(station().bus(), kSlaveAddress, 1020, 10, values.data()), ModbusError::WrongByteCount);
    int id = 0;
    std::string text;
    ASSERT_EQ(reportSlaveId(station().bus(), kSlaveAddress, id, text), ModbusError::Ok);
    EXPECT_EQ(id, 180) << "libmodbus reports the slave ID 180";
    EXPECT_EQ(modelFromDeviceText(text), kNoModel) << "libmodbus names itself, not a meter";
    EXPECT_FALSE(text.empty());
    // Another address stays silent.
    EXPECT_EQ(readRegisters(station().bus(), kSlaveAddress + 1, 0, 1, values.data()), ModbusError::Timeout);
}

}  // namespace
}  // namespace quorna::test
