#pragma once
// The one serial port of the program: its record, opening by name, line settings, and the
// time-outs with which a Modbus transaction reads its answer.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "bus/serial_port.h"

namespace quorna {

// Speed codes as stored in the settings: the serial driver's baud-rate flag values.
inline constexpr int kSpeed2400 = 256;
inline constexpr int kSpeed4800 = 512;
inline constexpr int kSpeed9600 = 2048;
inline constexpr int kSpeed19200 = 8192;

// Parity codes as stored in the settings.
inline constexpr int kParityNone = 0;
inline constexpr int kParityOdd = 1;
inline constexpr int kParityEven = 2;

inline constexpr std::size_t kPortNameCapacity = 31;
// A gateway's name ("tcp://HOST:PORT", "rtu+tcp://HOST:PORT") may be longer than a device's.
inline constexpr std::size_t kNetworkPortNameCapacity = 255;

// How many characters of a port name are kept: 255 for a gateway's name, 31 for any other.
[[nodiscard]] std::size_t portNameCapacity(std::string_view name);

// Time-outs of a transaction. 35 ms of silence ends an answer; a silent meter costs
// 800 ms plus 1 ms per byte asked. Purging stale input waits 1 ms at most.
inline constexpr CommTimeouts kNormalTimeouts{35, 1, 800, 5, 25};
inline constexpr CommTimeouts kPurgeTimeouts{0, 0, 1, 5, 25};

struct SerialLink {
    std::unique_ptr<SerialPort> handle;
    bool portOpen = false;
    std::string portName;          // name of the port last opened successfully: "COM1:" to "COM4:",
                                   // a device, or a gateway ("tcp://HOST:PORT", "rtu+tcp://HOST:PORT")
    bool reopenRequested = false;  // the settings file named a port: the next tick opens it
    int openFailures = 0;          // failed openPort calls since its last success
    int speed = kSpeed9600;        // SpeedCode
    int parity = kParityNone;      // ParityCode
    Framing framing = Framing::Rtu;           // of the port last opened
    std::uint16_t transactionId = 0;          // of the last Modbus TCP request
    std::chrono::milliseconds reopenPause{};  // of the port last opened, once it is lost
    std::chrono::steady_clock::time_point nextReopen{};  // no attempt to reopen before
};

class Bus;

enum class ReadOutcome { Data = 0, Nothing = 1, Overflow = 2 };

int baudForSpeedCode(int speedCode);       // 9600 for an unknown code
Parity parityForCode(int parityCode);      // none for an unknown code

// Closes the open port, then opens the named one with the stored line settings. A gateway's name
// connects to it; a gateway that does not answer within 3 s fails like a missing device. After two failures
// while a scan runs (scanRunning) it tries nothing. A failure shows "Unable to open %s" with the
// caption "Comm Port Open Failure". True when the port is open; the caller then scans the bus.
bool openPort(Bus& bus, const std::string& name, bool scanRunning);
// The comms dialog's port buttons: like openPort, without counting failures; a failure shows
// "Unable to open %s" under the application's title. True when the port is open.
bool selectPort(Bus& bus, const std::string& name);
// One stop bit always: the meters' line has no other.
void applyPortSettings(SerialPort& port, int speedCode, int parityCode);
// Throws away whatever arrived since the last transaction. Reopens a device that went away
// (an adapter unplugged, a gateway's connection dropped), a gateway at most once a second.
void purgeInput(Bus& bus);
// One write of the whole frame; its outcome shows up as a missing answer. Returns count.
int writeBytes(SerialLink& link, const std::uint8_t* bytes, int count);
// One read of at most maxCount bytes, ended by the normal time-outs; received gets the byte count.
ReadOutcome readResponse(SerialLink& link, std::uint8_t* buffer, int maxCount, int& received);
void closePort(SerialLink& link);

}  // namespace quorna
