#include "panel/panel_fields.h"

#include <cctype>
#include <climits>
#include <cstdio>

#include "app/operator.h"

namespace quorna::panel {

std::string notAnIntegerMessage() { return "Please enter an integer."; }

std::string integerRangeMessage(int low, int high) {
    return "Please enter an integer between " + std::to_string(low) + " and " + std::to_string(high) + ".";
}

std::string tooLongMessage(int limit) {
    return "Please enter no more than " + std::to_string(limit) + " characters.";
}

std::optional<int> parseInteger(const std::string& text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    const auto blank = [&](std::size_t at) { return std::isspace(static_cast<unsigned char>(text[at])) != 0; };
    while (i < n && blank(i)) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t firstDigit = i;
    long long value = 0;
    while (i < n && std::isdigit(static_cast<unsigned char>(text[i])) != 0) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
        ++i;
    }
    if (i == firstDigit) return std::nullopt;
    while (i < n && blank(i)) ++i;
    if (i != n) return std::nullopt;
    if (negative) value = -value;
    if (value > INT_MAX || value < INT_MIN) return std::nullopt;
    return static_cast<int>(value);
}

std::optional<int> takeInteger(const std::string& text, int low, int high, std::optional<int> unchanged) {
    const std::optional<int> value = parseInteger(text);
    if (!value) {
        ui().messageBox(notAnIntegerMessage(), "");
        return std::nullopt;
    }
    if ((*value < low || *value > high) && value != unchanged) {
        ui().messageBox(integerRangeMessage(low, high), "");
        return std::nullopt;
    }
    return value;
}

bool takeName(const std::string& text) {
    if (text.size() > static_cast<std::size_t>(kNameLength)) {
        ui().messageBox(tooLongMessage(kNameLength), "");
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
