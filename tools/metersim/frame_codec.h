// Modbus RTU framing as the meters see it: the CRC-16, the length of each request the
// meters understand, the assembly of received bytes into frames, and the answers.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quorna::metersim {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

inline constexpr uint8_t kReadHoldingRegisters = 3;
inline constexpr uint8_t kWriteSingleRegister = 6;
inline constexpr uint8_t kReportSlaveId = 17;
inline constexpr uint8_t kExceptionFlag = 0x80;

inline constexpr uint8_t kIllegalFunction = 1;
inline constexpr uint8_t kIllegalDataAddress = 2;
inline constexpr uint8_t kIllegalDataValue = 3;
inline constexpr uint8_t kSlaveDeviceFailure = 4;

inline constexpr int kBroadcastAddress = 0;
inline constexpr int kMaxReadCount = 125;

// Modbus CRC-16 (reflected polynomial 0xA001, initial value 0xFFFF). The low byte goes on
// the wire first; over a whole frame including its CRC the result is 0 for an intact frame.
[[nodiscard]] uint16_t crc16(std::span<const uint8_t> bytes);

// Appends the CRC of everything in the frame so far, low byte first.
void appendCrc(Bytes& frame);

[[nodiscard]] bool crcIntact(std::span<const uint8_t> frame);

// Length of a whole request with the given function code, or nullopt for a function whose
// length the meters cannot know (such a frame ends only at a silence gap).
[[nodiscard]] std::optional<std::size_t> requestLength(uint8_t function);

// A frame as it was cut out of the received byte stream.
struct ReceivedFrame {
    Bytes bytes;
    Clock::time_point end;  // arrival of its last byte
    bool lengthComplete = false;  // ended by reaching its function's length, not by a gap
};

// Cuts the received byte stream into frames. A frame ends when it reaches the length of its
// function code, or when the line stays silent for the gap time; the bytes gathered before a
// gap (garbage, a truncated or unknown request) form a frame of their own, so that the next
// request after a gap is always recognised from its first byte.
class FrameAssembler {
public:
    explicit FrameAssembler(std::chrono::microseconds gap) : m_gap(gap) {}

    void setGap(std::chrono::microseconds gap) { m_gap = gap; }

    // Takes bytes that arrived at `now`; returns the frames they completed, in order.
    [[nodiscard]] std::vector<ReceivedFrame> feed(std::span<const uint8_t> bytes, Clock::time_point now);

    // Ends a pending partial frame if the line has been silent for the gap time by `now`.
    [[nodiscard]] std::optional<ReceivedFrame> flushIfSilent(Clock::time_point now);

    // When the pending partial frame will be ended by silence; nullopt if nothing is pending.
    [[nodiscard]] std::optional<Clock::time_point> silenceDeadline() const;

private:
    std::chrono::microseconds m_gap;
    Bytes m_pending;
    Clock::time_point m_lastByte{};
};

// Answer builders; every result carries its CRC.
[[nodiscard]] Bytes buildReadAnswer(int address, std::span<const uint16_t> values);
[[nodiscard]] Bytes buildException(int address, uint8_t function, uint8_t code);
[[nodiscard]] Bytes buildSlaveIdAnswer(int address, uint8_t slaveId, std::span<const uint8_t> deviceText);

}  // namespace quorna::metersim
