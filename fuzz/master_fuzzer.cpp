// Any bytes a meter may answer to functions 3, 6 and 17: the master gives one of its codes, never
// more values or a longer device text than asked, and nothing crashes. The first three bytes of
// an input choose the transaction (function and framing, address, count or register); the rest is
// the answer. The framing is RTU or, through a Modbus TCP gateway, the MBAP header.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bus/modbus_master.h"

namespace {

// A port whose answer is the fuzzer's bytes, delivered once the request has been sent (what
// arrives before that is purged).
class AnswerPort final : public quorna::SerialPort {
public:
    AnswerPort(const std::uint8_t* data, std::size_t size, quorna::Framing framing)
        : m_data(data), m_size(size), m_framing(framing) {}

    void applySettings(const quorna::LineSettings&) override {}
    void setTimeouts(const quorna::CommTimeouts&) override {}
    bool write(const std::uint8_t*, std::size_t) override {
        m_sent = true;
        return true;
    }
    int read(std::uint8_t* buffer, std::size_t capacity) override {
        if (!m_sent) return 0;
        const std::size_t n = std::min(capacity, m_size - m_position);
        if (n > 0) std::memcpy(buffer, m_data + m_position, n);
        m_position += n;
        return static_cast<int>(n);
    }
    bool lost() const override { return false; }
    quorna::Framing framing() const override { return m_framing; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    quorna::Framing m_framing;
    std::size_t m_position = 0;
    bool m_sent = false;
};

void check(bool holds) {
    if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    quorna::SilentOperator op;
    quorna::Bus bus(op);
    const quorna::Framing framing = (data[0] / 3) % 2 == 0 ? quorna::Framing::Rtu : quorna::Framing::ModbusTcp;
    bus.setPortOpener([data, size, framing](const std::string&) {
        return std::make_unique<AnswerPort>(data + 3, size - 3, framing);
    });
    if (!quorna::selectPort(bus, "COM1:")) return 0;

    const int address = data[1];
    switch (data[0] % 3) {
    case 0: {
        const int count = 1 + data[2] % 125;
        std::vector<std::int32_t> values(static_cast<std::size_t>(count) + 1, -7);
        const quorna::ModbusError code = quorna::readRegisters(bus, address, 0, count, values.data());
        check(quorna::errorCode(code) >= 0 && quorna::errorCode(code) <= 10);
        if (code == quorna::ModbusError::Ok) {
            for (int i = 0; i < count; ++i) check(values[static_cast<std::size_t>(i)] >= 0 && values[static_cast<std::size_t>(i)] <= 65535);
        } else {
            for (int i = 0; i < count; ++i) check(values[static_cast<std::size_t>(i)] == -7);
        }
        check(values.back() == -7);  // never one value more than asked
        break;
    }
    case 1: {
        const quorna::ModbusError code = quorna::writeRegister(bus, address, data[2], 0x1234);
        check(quorna::errorCode(code) >= 0 && quorna::errorCode(code) <= 10);
        break;
    }
    default: {
        int slaveId = -1;
        std::string text = "untouched";
        const quorna::ModbusError code = quorna::reportSlaveId(bus, address, slaveId, text);
        if (code == quorna::ModbusError::Ok) {
            check(slaveId >= 0 && slaveId <= 255);
            check(text.size() < quorna::kDeviceTextCapacity);
            check(text.find('\0') == std::string::npos);
        } else {
            check(slaveId == -1 && text == "untouched");
        }
        break;
    }
    }
    (void)bus.trace().text();
    return 0;
}
