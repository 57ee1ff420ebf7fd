#include "forms/panel/panel_fields.h"

#include <climits>
#include <cstdio>

#include "bus/modbus_master.h"
#include "forms/field_validation.h"
#include "meters/register_map.h"

namespace quorna::panel {

std::optional<int> parseInteger(const std::string& text) {
    std::int64_t value = 0;
    if (scanInteger(text, Blanks::AnyWhiteSpace, value) != IntegerText::Integer) return std::nullopt;
    if (value > INT_MAX || value < INT_MIN) return std::nullopt;
    return static_cast<int>(value);
}

std::optional<int> takeInteger(Operator& op, const std::string& text, int low, int high, std::optional<int> unchanged) {
    const std::optional<int> value = parseInteger(text);
    if (!value) {
        op.warning(kNotAnInteger);
        return std::nullopt;
    }
    if ((*value < low || *value > high) && value != unchanged) {
        op.warning(integerRangeMessage(low, high));
        return std::nullopt;
    }
    return value;
}

bool takeName(Operator& op, const std::string& text) {
    if (const auto message = checkTextField(text, kMeterNameLength)) {
        op.warning(*message);
        return false;
    }
    return true;
}

bool writeName(Bus& bus, int address, int firstRegister, const std::string& name) {
    const std::array<int, 2> words = nameToRegisters(name);
    char text[160];
    ModbusError code = writeRegister(bus, address, firstRegister, words[0]);
    if (code != ModbusError::Ok) {
        std::snprintf(text, sizeof text, "Device at address [%d] write failure - error code [%d]", address,
                      errorCode(code));
        bus.op().error(text, "Communication Failure");
        return false;
    }
    code = writeRegister(bus, address, firstRegister + 1, words[1]);
    if (code != ModbusError::Ok) {
        std::snprintf(text, sizeof text,
                      "Device at address [%d] write failure - error code [%d]: only the first two characters "
                      "of the name were written",
                      address, errorCode(code));
        bus.op().error(text, "Communication Failure");
        return false;
    }
    return true;
}

std::string firmwareText(int major, int minor) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "Firmware V%i.%i", major, minor);
    return buffer;
}

std::string serialText(std::uint32_t serial) {
    char buffer[48];
    // Eight digits with leading zeros; taken as unsigned so that a number of 2^31 or more is not
    // shown negative.
    std::snprintf(buffer, sizeof buffer, "Serial Number - %08u", static_cast<unsigned>(serial));
    return buffer;
}

int signed16(std::int32_t registerValue) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(registerValue & 0xFFFF));
}

}  // namespace quorna::panel
