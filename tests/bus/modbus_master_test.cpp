// The Modbus master against crafted answers: frames, check order, error codes and the trace.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "bus/modbus_master.h"
#include "bus/trace_ring.h"
#include "meters/meter_model.h"
#include "station_fixture.h"
#include "scripted_port.h"

namespace quorna::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes withCrc(Bytes frame) {
    const std::uint16_t crc = crc16(frame.data(), static_cast<int>(frame.size()));
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

Bytes readAnswer(int address, const std::vector<int>& values) {
    Bytes frame{static_cast<std::uint8_t>(address), 3, static_cast<std::uint8_t>(2 * values.size())};
    for (int v : values) {
        frame.push_back(static_cast<std::uint8_t>(v >> 8));
        frame.push_back(static_cast<std::uint8_t>(v & 0xFF));
    }
    return withCrc(frame);
}

class ModbusMasterTest : public StationTest {
protected:
    void SetUp() override {
        state = std::make_shared<ScriptedPortState>();
        station().bus().setPortOpener([this](const std::string&) { return std::make_unique<ScriptedPort>(state); });
        ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    }
    std::shared_ptr<ScriptedPortState> state;
};

TEST(Crc16, KnownRequestGivesItsWireBytesAndAnIntactFrameChecksToZero) {
    const std::array<std::uint8_t, 6> request{0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
    const std::uint16_t crc = crc16(request.data(), 6);
    EXPECT_EQ(crc & 0xFF, 0x84);
    EXPECT_EQ(crc >> 8, 0x0A);
    const std::array<std::uint8_t, 8> frame{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    EXPECT_EQ(crc16(frame.data(), 8), 0);
}

TEST(Crc16, AgreesWithTheBitwiseDefinition) {
    // The table-driven CRC against a plain bit-by-bit computation over many lengths and contents.
    Bytes data;
    for (int i = 0; i < 300; ++i) {
        data.push_back(static_cast<std::uint8_t>(i * 37 + 11));
        unsigned crc = 0xFFFF;
        for (std::uint8_t b : data) {
            crc ^= b;
            for (int bit = 0; bit < 8; ++bit) crc = (crc & 1U) != 0 ? (crc >> 1) ^ 0xA001U : crc >> 1;
        }
        ASSERT_EQ(crc16(data.data(), static_cast<int>(data.size())), crc) << "length " << data.size();
    }
}

TEST(ErrorText, EveryCodeHasTheOperatorsText) {
    EXPECT_STREQ(errorText(ModbusError::Ok), "Ok");
    EXPECT_STREQ(errorText(ModbusError::Timeout), "Err #1, Timeout Waiting For Response");
    EXPECT_STREQ(errorText(ModbusError::ResponseTooLarge), "Err #2, Response Too Large for Buffer");
    EXPECT_STREQ(errorText(ModbusError::WrongByteCount), "Err #3, Response Has Incorrect Number of Bytes");
    EXPECT_STREQ(errorText(ModbusError::ExceptionResponse), "Err #4, Exception Response from Modbus Device");
    EXPECT_STREQ(errorText(ModbusError::CrcError), "Err #5, CRC Error");
    EXPECT_STREQ(errorText(ModbusError::WrongAddress), "Err #6, Response from Wrong Address");
    EXPECT_STREQ(errorText(ModbusError::WrongFunction), "Err #7, Response with incorrect function code");
    EXPECT_STREQ(errorText(ModbusError::WrongDataLength), "Err #8, Response indicates incorrect data length");
    EXPECT_STREQ(errorText(ModbusError::WriteNotConfirmed), "Err #9, Write did not confirm correct data");
    EXPECT_STREQ(errorText(ModbusError::InvalidParameter), "Err #10, Function Called with Invalid Input Parameter");
}

TEST_F(ModbusMasterTest, ParameterLimitsSendNothingAndLeaveTheTraceAlone) {
    std::array<std::int32_t, 510> out{};
    EXPECT_EQ(readRegisters(station().bus(), 1, 0, 0, out.data()), ModbusError::InvalidParameter);
    EXPECT_EQ(readRegisters(station().bus(), 1, 0, 510, out.data()), ModbusError::InvalidParameter);
    EXPECT_EQ(readRegisters(station().bus(), 256, 0, 1, out.data()), ModbusError::InvalidParameter);
    EXPECT_EQ(readRegisters(station().bus(), 1, -1, 1, out.data()), ModbusError::InvalidParameter);
    EXPECT_EQ(readRegisters(station().bus(), 1, 65530, 6, out.data()), ModbusError::InvalidParameter);
    EXPECT_EQ(writeRegister(station().bus(), 1, 1024, 0), ModbusError::InvalidParameter);
    EXPECT_EQ(writeRegister(station().bus(), 1, 5, 65536), ModbusError::InvalidParameter);
    EXPECT_EQ(writeRegister(station().bus(), 1, 5, -1), ModbusError::InvalidParameter);
    int id = 0;
    std::string text;
    EXPECT_EQ(reportSlaveId(station().bus(), -1, id, text), ModbusError::InvalidParameter);
    EXPECT_TRUE(state->written.empty());
    EXPECT_EQ(station().bus().trace().text(), "");
    EXPECT_EQ(station().bus().trace().newest, 0);
}

TEST_F(ModbusMasterTest, ReadSendsTheFrameAndTracesBothDirections) {
    state->answers.push_back(readAnswer(1, {0x1234}));
    std::int32_t value = -7;
    ASSERT_EQ(readRegisters(station().bus(), 1, 0, 1, &value), ModbusError::Ok);
    EXPECT_EQ(value, 0x1234);
    ASSERT_EQ(state->written.size(), 1U);
    EXPECT_EQ(state->written[0], (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
    EXPECT_EQ(station().bus().trace().newest, 1);
    const Bytes& a = readAnswer(1, {0x1234});
    char expectedRecv[64];
    std::snprintf(expectedRecv, sizeof expectedRecv, "Recv->01 03 02 12 34 %02X %02X\r\n", a[5], a[6]);
    EXPECT_EQ(station().bus().trace().entries[1], std::string("Send->01 03 00 00 00 01 84 0A\r") + expectedRecv);
}

TEST_F(ModbusMasterTest, FortyNineRegisterAnswerAndOneChangedByte) {
    std::vector<int> values;
    for (int i = 0; i < 49; ++i) values.push_back(i * 1000 + 7);
    Bytes answer = readAnswer(3, values);
    ASSERT_EQ(answer.size(), 103U);
    state->answers.push_back(answer);
    std::array<std::int32_t, 49> out{};
    ASSERT_EQ(readRegisters(station().bus(), 3, 0, 49, out.data()), ModbusError::Ok);
    for (int i = 0; i < 49; ++i) EXPECT_EQ(out[static_cast<std::size_t>(i)], values[static_cast<std::size_t>(i)]);

    answer[20] ^= 0x01;
    state->answers.push_back(answer);
    std::array<std::int32_t, 49> untouched{};
    untouched.fill(-5);
    EXPECT_EQ(readRegisters(station().bus(), 3, 0, 49, untouched.data()), ModbusError::CrcError);
    for (auto v : untouched) EXPECT_EQ(v, -5) << "a failed read leaves the output as it was";
}

TEST_F(ModbusMasterTest, ReadChecksComeInTheirFixedOrder) {
    std::int32_t out[2] = {0, 0};
    // An exception reply to a read is short, so its length is what fails first.
    state->answers.push_back(withCrc({0x01, 0x83, 0x02}));
    EXPECT_EQ(readRegisters(station().bus(), 1, 0, 2, out), ModbusError::WrongByteCount);
    // Right length, bad CRC, and everything else wrong too: the CRC decides.
    state->answers.push_back(Bytes{0x09, 0x83, 0x05, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(readRegisters(station().bus(), 1, 0, 2, out), ModbusError::CrcError);
    // Another address with a valid CRC.
    state->answers.push_back(readAnswer(2, {1, 2}));
    EXPECT_EQ(readRegisters(station().bus(), 1, 0, 2, out), ModbusError::WrongAddress);
    // The exception function at full length.
    state->answers.push_back(withCrc({0x01, 0x83, 0x04, 0, 0, 0, 0}));
    EXPECT_EQ(readRegisters(station().bus(), 1, 0, 2, out), ModbusError::ExceptionResponse);
    state->answers.push_back(withCrc({0x01, 0x04, 0x04, 0, 0, 0, 0}));
    EXPECT_EQ(readRegisters(station().bus(), 1, 0, 2, out), ModbusError::WrongFunction);
    state->answers.push_back(withCrc({0x01, 0x03, 0x05, 0, 0, 0, 0}));
    EXPECT_EQ(readRegisters(station().bus(), 1, 0, 2, out), ModbusError::WrongDataLength);
    // Nothing at all, and a failing read call, are both a time-out.
    EXPECT_EQ(readRegisters(station().bus(), 1, 0, 2, out), ModbusError::Timeout);
    state->failNextRead = 1;
    EXPECT_EQ(readRegisters(station().bus(), 1, 0, 2, out), ModbusError::Timeout);
    // More bytes than asked for.
    state->answers.push_back(Bytes(40, 0x55));
    EXPECT_EQ(readRegisters(station().bus(), 1, 0, 1, out), ModbusError::ResponseTooLarge);
}

TEST_F(ModbusMasterTest, WriteChecksTheEcho) {
    const Bytes request{0x05, 0x06, 0x00, 0x8D, 0x00, 0x55};
    state->answers.push_back(withCrc(request));
    EXPECT_EQ(writeRegister(station().bus(), 5, 141, 85), ModbusError::Ok);
    EXPECT_EQ(state->written.back(), withCrc(request));

    state->answers.push_back(withCrc({0x05, 0x06, 0x00, 0x8D, 0x00, 0x56}));
    EXPECT_EQ(writeRegister(station().bus(), 5, 141, 85), ModbusError::WriteNotConfirmed);
    state->answers.push_back(withCrc({0x05, 0x86, 0x02}));
    EXPECT_EQ(writeRegister(station().bus(), 5, 141, 85), ModbusError::WrongByteCount);
    state->answers.push_back(withCrc({0x05, 0x86, 0x00, 0x8D, 0x00, 0x55}));
    EXPECT_EQ(writeRegister(station().bus(), 5, 141, 85), ModbusError::ExceptionResponse);
    state->answers.push_back(withCrc({0x06, 0x06, 0x00, 0x8D, 0x00, 0x55}));
    EXPECT_EQ(writeRegister(station().bus(), 5, 141, 85), ModbusError::WrongAddress);
    state->answers.push_back(withCrc({0x05, 0x10, 0x00, 0x8D, 0x00, 0x55}));
    EXPECT_EQ(writeRegister(station().bus(), 5, 141, 85), ModbusError::WrongFunction);
    // The right echo with one CRC byte changed.
    Bytes damaged = withCrc(request);
    damaged.back() ^= 0x01;
    state->answers.push_back(damaged);
    EXPECT_EQ(writeRegister(station().bus(), 5, 141, 85), ModbusError::CrcError);
}

TEST_F(ModbusMasterTest, ReportSlaveIdLengthRules) {
    int id = -1;
    std::string text = "untouched";
    // Byte count 6 but 9 bytes in all (2 text bytes): the data length is wrong.
    state->answers.push_back(withCrc({0x0C, 0x11, 0x06, 0xE6, 0xFF, 'A', 'B'}));
    EXPECT_EQ(reportSlaveId(station().bus(), 12, id, text), ModbusError::WrongDataLength);
    EXPECT_EQ(id, -1);
    EXPECT_EQ(text, "untouched");
    // Byte count 4 with two text bytes succeeds.
    state->answers.push_back(withCrc({0x0C, 0x11, 0x04, 0xE6, 0xFF, 'A', 'B'}));
    EXPECT_EQ(reportSlaveId(station().bus(), 12, id, text), ModbusError::Ok);
    EXPECT_EQ(id, 0xE6);
    EXPECT_EQ(text, "AB");
    // No text at all, and a frame too short to hold one.
    state->answers.push_back(withCrc({0x0C, 0x11, 0x02, 0xEB, 0xFF}));
    EXPECT_EQ(reportSlaveId(station().bus(), 12, id, text), ModbusError::Ok);
    EXPECT_EQ(id, 0xEB);
    EXPECT_EQ(text, "");
    state->answers.push_back(Bytes{0x0C, 0x11, 0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(reportSlaveId(station().bus(), 12, id, text), ModbusError::WrongByteCount);
    state->answers.push_back(withCrc({0x0C, 0x91, 0x04, 0xE6, 0xFF}));
    EXPECT_EQ(reportSlaveId(station().bus(), 12, id, text), ModbusError::ExceptionResponse);
    // A bad CRC, another meter's answer and another function, each at a valid length.
    Bytes damaged = withCrc({0x0C, 0x11, 0x04, 0xE6, 0xFF, 'A', 'B'});
    damaged[5] = 'X';
    state->answers.push_back(damaged);
    EXPECT_EQ(reportSlaveId(station().bus(), 12, id, text), ModbusError::CrcError);
    state->answers.push_back(withCrc({0x0D, 0x11, 0x04, 0xE6, 0xFF, 'A', 'B'}));
    EXPECT_EQ(reportSlaveId(station().bus(), 12, id, text), ModbusError::WrongAddress);
    state->answers.push_back(withCrc({0x0C, 0x03, 0x04, 0xE6, 0xFF, 'A', 'B'}));
    EXPECT_EQ(reportSlaveId(station().bus(), 12, id, text), ModbusError::WrongFunction);
    EXPECT_EQ(id, 0xEB) << "a failed report leaves the slave ID alone";
    EXPECT_EQ(text, "");
    EXPECT_EQ(station().meters().directory(), MeterDirectory{}) << "the master does not keep what it was told";
    EXPECT_EQ(state->written.front(), withCrc({0x0C, 0x11}));
}

TEST_F(ModbusMasterTest, TraceRingKeepsTheFourNewestOldestFirst) {
    std::int32_t out = 0;
    for (int address = 1; address <= 5; ++address) (void)readRegisters(station().bus(), address, 0, 1, &out);
    EXPECT_EQ(station().bus().trace().newest, 1) << "five transactions end on entry 1";
    const std::string text = station().bus().trace().text();
    // Entries 2, 3, 0, 1 hold addresses 2, 3, 4, 5; the first one (address 1) is gone.
    EXPECT_EQ(text.find("Send->01 "), std::string::npos);
    const auto p2 = text.find("Send->02 ");
    const auto p3 = text.find("Send->03 ");
    const auto p4 = text.find("Send->04 ");
    const auto p5 = text.find("Send->05 ");
    ASSERT_NE(p2, std::string::npos);
    EXPECT_LT(p2, p3);
    EXPECT_LT(p3, p4);
    EXPECT_LT(p4, p5);
    EXPECT_NE(station().bus().trace().entries[1].find("Send->05 03 00 00 00 01"), std::string::npos);
    EXPECT_NE(station().bus().trace().entries[1].find("\rRecv->\r\n"), std::string::npos) << "nothing received";
}

TEST_F(ModbusMasterTest, StaleInputIsPurgedBeforeEveryRequestAndTheLiveTraceRepaints) {
    state->staleInput = Bytes(300, 0xAA);
    state->answers.push_back(readAnswer(1, {42}));
    std::int32_t value = 0;
    station().bus().setTraceLive(true);
    ASSERT_EQ(readRegisters(station().bus(), 1, 0, 1, &value), ModbusError::Ok);
    EXPECT_EQ(value, 42);
    EXPECT_TRUE(state->staleInput.empty());
    EXPECT_GE(state->purgeReads, 3) << "the purge reads until nothing is left";
    EXPECT_EQ(op.traceRepaints, 1);
}

TEST_F(ModbusMasterTest, ALostDeviceIsReopenedByNameBeforeTheNextTransaction) {
    int opens = 0;
    station().bus().setPortOpener([this, &opens](const std::string& name) -> std::unique_ptr<SerialPort> {
        ++opens;
        EXPECT_EQ(name, "COM1:");
        return std::make_unique<ScriptedPort>(state);
    });
    state->lost = true;
    std::int32_t value = 0;
    state->lost = false;  // the new port is healthy; the old object reports lost below
    auto lostState = std::make_shared<ScriptedPortState>();
    lostState->lost = true;
    station().bus().link().handle = std::make_unique<ScriptedPort>(lostState);
    state->answers.push_back(readAnswer(1, {7}));
    ASSERT_EQ(readRegisters(station().bus(), 1, 0, 1, &value), ModbusError::Ok);
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(value, 7);
    EXPECT_TRUE(op.messages.empty()) << "reopening is silent";
}

// Over a Modbus TCP gateway the frame is the MBAP header and the PDU: no CRC, and the header's
// transaction id, protocol and length take the CRC's place in the checks.
TEST_F(ModbusMasterTest, ModbusTcpAnswersAreCheckedByTheirHeaderWhereTheCrcWouldBe) {
    state->framing = Framing::ModbusTcp;
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    const auto answer = [](int id, int protocol, int length, int unit, Bytes pdu) {
        const std::array<std::uint8_t, 7> header{std::uint8_t(id >> 8),        std::uint8_t(id & 0xFF),
                                                 std::uint8_t(protocol >> 8),  std::uint8_t(protocol & 0xFF),
                                                 std::uint8_t(length >> 8),    std::uint8_t(length & 0xFF),
                                                 std::uint8_t(unit)};
        // Sized once and filled in place: inserting into a seven-byte vector makes GCC 12 warn at -O2.
        Bytes frame(header.size() + pdu.size());
        std::copy(header.begin(), header.end(), frame.begin());
        std::copy(pdu.begin(), pdu.end(), frame.begin() + static_cast<std::ptrdiff_t>(header.size()));
        return frame;
    };
    std::array<std::int32_t, 2> out{};
    state->answers = {answer(1, 0, 7, 9, {3, 4, 0x12, 0x34, 0xAB, 0xCD}),  // good
                      answer(1, 0, 7, 9, {3, 4, 0, 0, 0, 0}),              // transaction 2 answered as 1
                      answer(3, 1, 7, 9, {3, 4, 0, 0, 0, 0}),              // protocol 1
                      answer(4, 0, 8, 9, {3, 4, 0, 0, 0, 0}),              // length one too many
                      answer(5, 0, 7, 8, {3, 4, 0, 0, 0, 0}),              // another unit
                      answer(6, 0, 3, 9, {0x83, 2}),                       // exception: short
                      answer(7, 0, 6, 9, {6, 0, 30, 0, 7})};               // write echo
    EXPECT_EQ(readRegisters(station().bus(), 9, 30, 2, out.data()), ModbusError::Ok);
    EXPECT_EQ(out, (std::array<std::int32_t, 2>{0x1234, 0xABCD}));
    EXPECT_EQ(readRegisters(station().bus(), 9, 30, 2, out.data()), ModbusError::CrcError);
    EXPECT_EQ(readRegisters(station().bus(), 9, 30, 2, out.data()), ModbusError::CrcError);
    EXPECT_EQ(readRegisters(station().bus(), 9, 30, 2, out.data()), ModbusError::CrcError);
    EXPECT_EQ(readRegisters(station().bus(), 9, 30, 2, out.data()), ModbusError::WrongAddress);
    EXPECT_EQ(readRegisters(station().bus(), 9, 30, 2, out.data()), ModbusError::WrongByteCount);
    EXPECT_EQ(writeRegister(station().bus(), 9, 30, 7), ModbusError::Ok);
    ASSERT_EQ(state->written.size(), 7U);
    EXPECT_EQ(state->written[0], (Bytes{0, 1, 0, 0, 0, 6, 9, 3, 0, 30, 0, 2}));
    EXPECT_EQ(state->written[6], (Bytes{0, 7, 0, 0, 0, 6, 9, 6, 0, 30, 0, 7}));
    EXPECT_EQ(station().bus().trace().text().find("Recv->00 07 00 00 00 06 09 06 00 1E 00 07\r\n") != std::string::npos, true)
        << station().bus().trace().text();

    // Report slave ID: unit, function, byte count, ID, run indicator and the text, no CRC.
    Bytes slaveId{17, 6, 230, 0xFF, 'B', 'r', 'a', 'n'};
    state->answers = {answer(8, 0, 9, 9, slaveId)};
    int id = 0;
    std::string text;
    EXPECT_EQ(reportSlaveId(station().bus(), 9, id, text), ModbusError::Ok);
    EXPECT_EQ(id, 230);
    EXPECT_EQ(text, "Bran");
    EXPECT_EQ(state->written.back(), (Bytes{0, 8, 0, 0, 0, 2, 9, 17}));
}

}  // namespace
}  // namespace quorna::test
