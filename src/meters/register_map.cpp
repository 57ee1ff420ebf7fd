#include "meters/register_map.h"

#include <cstring>

#include "meters/meter_model.h"

namespace quorna {
namespace {

ModbusError readBlock(Meters& meters, int address, int start, int count, std::int32_t* out) {
    const ModbusError result = readRegisters(meters.bus(), address, start, count, out);
    if (result != ModbusError::Ok) {
        for (int i = 0; i < count; ++i) out[i] = -1;
    }
    return result;
}

}  // namespace

std::string namesFromRegisters(const std::int32_t* registers, int registerCount) {
    std::string text;
    for (int i = 0; i < registerCount; ++i) {
        const char pair[2] = {static_cast<char>((registers[i] >> 8) & 0xFF), static_cast<char>(registers[i] & 0xFF)};
        for (char c : pair) {
            if (c == '\0') return text;
            text += c;
        }
    }
    return text;
}

std::array<int, 2> nameToRegisters(const std::string& name) {
    std::string padded = name.substr(0, 4);
    padded.resize(4, ' ');
    const auto byte = [&](int i) { return static_cast<int>(static_cast<unsigned char>(padded[static_cast<std::size_t>(i)])); };
    return {byte(0) * 256 + byte(1), byte(2) * 256 + byte(3)};
}

float floatFromRegisters(std::int32_t high, std::int32_t low) {
    const std::uint32_t bits = (static_cast<std::uint32_t>(high) & 0xFFFFU) << 16 | (static_cast<std::uint32_t>(low) & 0xFFFFU);
    float value = 0.0F;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::uint32_t readSerialNumber(Meters& meters, int address) {
    const int model = directoryModel(meters.directory(), address);
    int start = 0;
    if (model == kBranchMeter) {
        start = kBranchSerialRegister;
    } else if (isCircuitModel(model)) {
        start = kCircuitSerialRegister;
    } else {
        return 0;
    }
    std::int32_t regs[2] = {0, 0};
    if (readRegisters(meters.bus(), address, start, 2, regs) != ModbusError::Ok) return 0;
    return static_cast<std::uint32_t>(regs[0]) << 16 | static_cast<std::uint32_t>(regs[1]);
}

void readFirmwareVersion(Meters& meters, int address, int& major, int& minor) {
    const int start = directoryModel(meters.directory(), address) == kBranchMeter ? kBranchFirmwareRegister : kOtherFirmwareRegister;
    std::int32_t regs[2] = {0, 0};
    if (readRegisters(meters.bus(), address, start, 2, regs) != ModbusError::Ok) {
        major = 0;
        minor = 0;
        return;
    }
    major = regs[0];
    minor = regs[1];
}

ModbusError readPanelSetupBlock(Meters& meters, int address, BreakerBlock& out) {
    return readBlock(meters, address, kPanelSetupRegister, kBreakerCount, out.data());
}

ModbusError readAlarmLimits(Meters& meters, int address, BreakerBlock& out) {
    if (directoryModel(meters.directory(), address) == kBranchMeter) {
        return readBlock(meters, address, kBranchAlarmLimitRegister, kBreakerCount, out.data());
    }
    return readBlock(meters, address, kGlobalLimitRegister, kGlobalLimitCount, out.data());
}

ModbusError readWarningLimits(Meters& meters, int address, BreakerBlock& out) {
    return readBlock(meters, address, kWarningLimitRegister, kBreakerCount, out.data());
}

ModbusError readAlarmDelays(Meters& meters, int address, BreakerBlock& out) {
    return readBlock(meters, address, kAlarmDelayRegister, kBreakerCount, out.data());
}

ModbusError readWarningDelays(Meters& meters, int address, BreakerBlock& out) {
    return readBlock(meters, address, kWarningDelayRegister, kBreakerCount, out.data());
}

ModbusError readGlobalFlags(Meters& meters, int address, std::int32_t& flags) {
    std::int32_t value = 0;
    const ModbusError result = readRegisters(meters.bus(), address, kGlobalFlagsRegister, 1, &value);
    flags = result == ModbusError::Ok ? value : kFailedFlags;
    return result;
}

RegisterSpan namesSpanOf(int model) {
    if (model == kBranchMeter) return {kBranchNameRegister, 2};
    if (isCircuitModel(model)) return {kCircuitNameRegister, 4};
    return {};
}

MeterNames namesFromSpan(int model, const std::int32_t* registers) {
    MeterNames names;
    if (namesSpanOf(model).count == 0) return names;
    names.first = namesFromRegisters(registers, 2);
    if (isCircuitModel(model)) names.second = namesFromRegisters(registers + 2, 2);
    return names;
}

MeterNames readMeterNames(Meters& meters, int address) {
    const int model = directoryModel(meters.directory(), address);
    const RegisterSpan span = namesSpanOf(model);
    std::int32_t regs[4] = {0, 0, 0, 0};
    if (span.count == 0 || readRegisters(meters.bus(), address, span.start, span.count, regs) != ModbusError::Ok) {
        return {};
    }
    return namesFromSpan(model, regs);
}

}  // namespace quorna
