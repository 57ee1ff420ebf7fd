#include "bus/serial_link.h"

#include <array>

#include "bus/bus.h"
#include "bus/network_port.h"
#include "bus/posix_serial_port.h"

namespace quorna {
namespace {

constexpr int kMaxPurgeReads = 256;

// "COMn:" may stand for a gateway through QUORNA_COMn, as it may for any device.
std::unique_ptr<SerialPort> openSystemPort(const std::string& name) {
    if (const auto address = parseNetworkPortName(deviceForPortName(name))) return openNetworkPort(*address);
    return openPosixSerialPort(name);
}

std::unique_ptr<SerialPort> openDevice(const Bus& bus, const std::string& name) {
    return bus.portOpener() ? bus.portOpener()(name) : openSystemPort(name);
}

std::string unableToOpen(const std::string& name) { return "Unable to open " + name; }

std::string truncatedName(const std::string& name) { return name.substr(0, portNameCapacity(name)); }

// The port becomes the link's: its line settings applied, its framing and reopen pause noted.
void installPort(SerialLink& link, std::unique_ptr<SerialPort> port) {
    applyPortSettings(*port, link.speed, link.parity);
    link.framing = port->framing();
    link.reopenPause = port->reopenPause();
    link.handle = std::move(port);
}

// A lost port is closed and, once its pause since the last attempt is over, opened again by the
// same name and with the same settings. Until it is back every transaction fails at once as if
// the meter were silent. The old handle goes first: a device that stays in place (a hung-up
// terminal) opens again only once nothing holds it, since the port is taken exclusively.
void reopenIfLost(Bus& bus) {
    SerialLink& link = bus.link();
    if (link.handle && !link.handle->lost()) return;
    link.handle.reset();
    if (std::chrono::steady_clock::now() < link.nextReopen) return;
    auto port = openDevice(bus, link.portName);
    // Counted from the end of the attempt, so that a gateway that makes every connect wait its
    // full time-out still leaves the window a second between two attempts.
    link.nextReopen = std::chrono::steady_clock::now() + link.reopenPause;
    if (port) installPort(link, std::move(port));
}

// An answer still awaited (or given up) on the port just closed will not come: it ends at once
// as silence, so that the next transaction on the new port does not wait for it.
void forgetAnswerOfClosedPort(Bus& bus) {
    if (!bus.link().handle) bus.settlePendingExchange();
}

}  // namespace

std::size_t portNameCapacity(std::string_view name) {
    return isNetworkPortName(name) ? kNetworkPortNameCapacity : kPortNameCapacity;
}

int baudForSpeedCode(int speedCode) {
    switch (speedCode) {
        case kSpeed2400: return 2400;
        case kSpeed4800: return 4800;
        case kSpeed19200: return 19200;
        default: return 9600;
    }
}

Parity parityForCode(int parityCode) {
    switch (parityCode) {
        case kParityOdd: return Parity::Odd;
        case kParityEven: return Parity::Even;
        default: return Parity::None;
    }
}

void applyPortSettings(SerialPort& port, int speedCode, int parityCode) {
    LineSettings settings;
    settings.baud = baudForSpeedCode(speedCode);
    settings.parity = parityForCode(parityCode);
    port.applySettings(settings);
}

void closePort(SerialLink& link) {
    link.handle.reset();
    link.portOpen = false;
}

bool openPort(Bus& bus, const std::string& name, bool scanRunning) {
    SerialLink& link = bus.link();
    const std::string wanted = truncatedName(name);
    if (link.portOpen) closePort(link);
    forgetAnswerOfClosedPort(bus);
    if (link.openFailures > 1 && scanRunning) return false;
    auto port = openDevice(bus, wanted);
    if (!port) {
        ++link.openFailures;
        bus.op().error(unableToOpen(wanted), "Comm Port Open Failure");
        return false;
    }
    link.openFailures = 0;
    installPort(link, std::move(port));
    link.portOpen = true;
    link.portName = wanted;
    return true;
}

bool selectPort(Bus& bus, const std::string& name) {
    SerialLink& link = bus.link();
    const std::string wanted = truncatedName(name);
    if (link.portOpen) closePort(link);
    forgetAnswerOfClosedPort(bus);
    auto port = openDevice(bus, wanted);
    if (!port) {
        bus.op().error(unableToOpen(wanted));
        return false;
    }
    installPort(link, std::move(port));
    link.portOpen = true;
    link.portName = wanted;
    return true;
}

void purgeInput(Bus& bus) {
    SerialLink& link = bus.link();
    if (!link.portOpen) return;
    reopenIfLost(bus);
    if (!link.handle) return;
    SerialPort& port = *link.handle;
    port.setTimeouts(kPurgeTimeouts);
    std::array<std::uint8_t, 255> scratch{};
    // Bounded, so that a line that never falls silent (noise, a babbling device) cannot hold the program.
    for (int i = 0; i < kMaxPurgeReads && port.read(scratch.data(), scratch.size()) > 0; ++i) {
    }
    port.setTimeouts(kNormalTimeouts);
    // A gateway that closed the connection since the last transaction shows it here: the request
    // goes out on a fresh connection rather than into the closed one.
    if (link.handle->lost()) {
        reopenIfLost(bus);
        if (link.handle) link.handle->setTimeouts(kNormalTimeouts);
    }
}

int writeBytes(SerialLink& link, const std::uint8_t* bytes, int count) {
    if (link.handle) (void)link.handle->write(bytes, static_cast<std::size_t>(count));
    return count;
}

ReadOutcome readResponse(SerialLink& link, std::uint8_t* buffer, int maxCount, int& received) {
    received = 0;
    if (!link.handle) return ReadOutcome::Nothing;
    link.handle->setTimeouts(kNormalTimeouts);
    const int n = link.handle->read(buffer, static_cast<std::size_t>(maxCount));
    if (n < 0) return ReadOutcome::Nothing;
    received = n;
    if (n > maxCount) return ReadOutcome::Overflow;
    if (n == 0) return ReadOutcome::Nothing;
    return ReadOutcome::Data;
}

}  // namespace quorna
