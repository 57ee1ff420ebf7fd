#include "bus/serial_link.h"

#include <array>
#include <cstdio>

#include "bus/bus.h"
#include "bus/posix_serial_port.h"

namespace quorna {
namespace {

constexpr int kMaxPurgeReads = 256;

std::unique_ptr<SerialPort> openDevice(const Bus& bus, const std::string& name) {
    return bus.opener ? bus.opener(name) : openPosixSerialPort(name);
}

std::string unableToOpen(const std::string& name) {
    char text[64];
    std::snprintf(text, sizeof text, "Unable to open %s", name.c_str());
    return text;
}

std::string truncatedName(const std::string& name) { return name.substr(0, kPortNameCapacity); }

}  // namespace

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
    SerialLink& link = bus.link;
    const std::string wanted = truncatedName(name);
    if (link.portOpen) closePort(link);
    if (link.openFailures > 1 && scanRunning) return false;
    auto port = openDevice(bus, wanted);
    if (!port) {
        ++link.openFailures;
        bus.op.messageBox(unableToOpen(wanted), "Comm Port Open Failure");
        return false;
    }
    link.openFailures = 0;
    applyPortSettings(*port, link.speed, link.parity);
    link.handle = std::move(port);
    link.portOpen = true;
    link.portName = wanted;
    return true;
}

bool selectPort(Bus& bus, const std::string& name) {
    SerialLink& link = bus.link;
    const std::string wanted = truncatedName(name);
    if (link.portOpen) closePort(link);
    auto port = openDevice(bus, wanted);
    if (!port) {
        bus.op.messageBox(unableToOpen(wanted), "");
        return false;
    }
    applyPortSettings(*port, link.speed, link.parity);
    link.handle = std::move(port);
    link.portOpen = true;
    link.portName = wanted;
    return true;
}

void purgeInput(Bus& bus) {
    SerialLink& link = bus.link;
    if (!link.portOpen) return;
    // An adapter that was unplugged is opened again, by the same name and with the same settings,
    // so that polling and logging resume by themselves once it is back. Until then every
    // transaction fails at once as if the meter were silent. The old handle goes first: a device
    // that stays in place (a hung-up terminal) opens again only once nothing holds it, since the
    // port is taken exclusively.
    if (!link.handle || link.handle->lost()) {
        link.handle.reset();
        auto port = openDevice(bus, link.portName);
        if (!port) return;
        applyPortSettings(*port, link.speed, link.parity);
        link.handle = std::move(port);
    }
    SerialPort& port = *link.handle;
    port.setTimeouts(kPurgeTimeouts);
    std::array<std::uint8_t, 255> scratch{};
    // Bounded, so that a line that never falls silent (noise, a babbling device) cannot hold the program.
    for (int i = 0; i < kMaxPurgeReads && port.read(scratch.data(), scratch.size()) > 0; ++i) {
    }
    port.setTimeouts(kNormalTimeouts);
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
