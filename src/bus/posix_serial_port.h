#pragma once
// The serial port on Linux: termios for the line, poll() and a monotonic clock for the time-outs.

#include <memory>
#include <string>

#include "bus/serial_port.h"

namespace quorna {

// The device behind a port name: "COMn:" is /dev/ttyS(n-1) unless the environment variable
// QUORNA_COMn names another device (an USB adapter, the simulator's pseudo-terminal).
// Any other name is taken as a device path as it stands.
std::string deviceForPortName(const std::string& portName);

// Opens the device of a port name exclusively (another program holding it makes the open fail),
// in raw mode with DTR on. Returns nullptr when it cannot be opened.
std::unique_ptr<SerialPort> openPosixSerialPort(const std::string& portName);

}  // namespace quorna
