#pragma once
// The narrow interface the serial link needs of a port: apply line settings, set the time-outs,
// write a frame, read with time-outs, and tell whether the device has gone away. A serial device
// is one kind of port; a TCP connection to an Ethernet gateway is another.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace quorna {

// Read and write time-outs in milliseconds, with the meaning of the classic serial driver's set:
// a read ends when readInterval passes between two bytes (0: no interval limit), or when
// readTotalConstant + readTotalMultiplier x bytes asked have passed since the read began.
struct CommTimeouts {
    int readInterval = 0;
    int readTotalMultiplier = 0;
    int readTotalConstant = 0;
    int writeTotalMultiplier = 0;
    int writeTotalConstant = 0;
};

enum class Parity { None, Odd, Even };

struct LineSettings {
    int baud = 9600;
    Parity parity = Parity::None;
};

// How Modbus frames travel through a port: RTU frames, the meter's address first and the CRC-16
// last (serial lines, and gateways that carry the line's bytes unchanged over TCP), or Modbus TCP
// frames behind the MBAP header (gateways that forward to their RS-485 side by unit identifier).
enum class Framing { Rtu, ModbusTcp };

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Writes the settings into the port. A failure is ignored; the port keeps what it had.
    virtual void applySettings(const LineSettings& settings) = 0;
    virtual void setTimeouts(const CommTimeouts& timeouts) = 0;
    // Sends the whole frame, raising the line driver only while sending. False when the device failed.
    virtual bool write(const std::uint8_t* data, std::size_t count) = 0;
    // One read of at most capacity bytes, ended by the time-outs in force.
    // Returns the number of bytes received, or -1 when the read call failed.
    virtual int read(std::uint8_t* buffer, std::size_t capacity) = 0;
    // Waits at most `wait` until a read would find something (bytes, or the device gone), without
    // reading. A port that cannot tell says yes at once: its read then waits as it always did.
    virtual bool waitReadable(std::chrono::milliseconds wait) {
        (void)wait;
        return true;
    }
    // True once the device has gone away (unplugged adapter, closed pseudo-terminal).
    [[nodiscard]] virtual bool lost() const = 0;
    [[nodiscard]] virtual Framing framing() const { return Framing::Rtu; }
    // The least time between two attempts to open the port again once it is lost: none for a
    // serial device, whose open costs nothing; a second for a gateway, whose connect may wait.
    [[nodiscard]] virtual std::chrono::milliseconds reopenPause() const { return {}; }
};

// Opens a port by its name ("COM1:", "tcp://host:502" ...). Returns nullptr when it cannot be opened.
using PortOpener = std::function<std::unique_ptr<SerialPort>(const std::string& portName)>;

}  // namespace quorna
