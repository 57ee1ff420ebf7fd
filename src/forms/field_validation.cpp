#include "forms/field_validation.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quorna {
namespace {

std::string trimmed(const std::string& text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isBlank(text[first])) ++first;
    while (last > first && isBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

std::string formatBound(double bound) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", bound);
    return buffer;
}

}  // namespace

std::string integerRangeMessage(std::int64_t min, std::int64_t max) {
    return "Please enter an integer between " + std::to_string(min) + " and " + std::to_string(max) + ".";
}

std::string numberRangeMessage(double min, double max) {
    return "Please enter a number between " + formatBound(min) + " and " + formatBound(max) + ".";
}

std::string textLengthMessage(int maxChars) {
    return "Please enter no more than " + std::to_string(maxChars) + " characters.";
}

IntegerText scanInteger(const std::string& text, Blanks blanks, std::int64_t& value) {
    const auto isBlank = [blanks](char c) {
        return blanks == Blanks::AnyWhiteSpace ? std::isspace(static_cast<unsigned char>(c)) != 0 : c == ' ' || c == '\t';
    };
    std::size_t at = 0;
    const std::size_t size = text.size();
    while (at < size && isBlank(text[at])) ++at;
    bool negative = false;
    if (at < size && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    // The magnitude is gathered unsigned: the most negative value has no positive counterpart.
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
    const std::size_t firstDigit = at;
    std::uint64_t magnitude = 0;
    bool tooLong = false;
    for (; at < size && text[at] >= '0' && text[at] <= '9'; ++at) {
        const auto digit = static_cast<std::uint64_t>(text[at] - '0');
        if (tooLong || magnitude > (limit - digit) / 10) {
            tooLong = true;  // the rest must still be digits and blanks to count as an integer
        } else {
            magnitude = magnitude * 10 + digit;
        }
    }
    if (at == firstDigit) return IntegerText::NotAnInteger;
    while (at < size && isBlank(text[at])) ++at;
    if (at != size) return IntegerText::NotAnInteger;
    if (tooLong) return IntegerText::TooLong;
    value = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return IntegerText::Integer;
}

std::optional<std::string> parseIntegerField(const std::string& text, std::int32_t min, std::int32_t max,
                                             std::int32_t& value) {
    std::int64_t parsed = 0;
    switch (scanInteger(text, Blanks::SpacesAndTabs, parsed)) {
    case IntegerText::NotAnInteger:
        return std::string(kNotAnInteger);
    case IntegerText::TooLong:
        return integerRangeMessage(min, max);
    case IntegerText::Integer:
        break;
    }
    if (parsed < min || parsed > max) return integerRangeMessage(min, max);
    value = static_cast<std::int32_t>(parsed);
    return std::nullopt;
}

std::optional<std::string> parseNumberField(const std::string& text, float min, float max, float& value) {
    const std::string number = trimmed(text);
    if (number.empty()) return std::string(kNotANumber);
    // Only plain decimal notation: no hexadecimal floats, no "inf" or "nan".
    for (char c : number) {
        const bool allowed = (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
        if (!allowed) return std::string(kNotANumber);
    }
    char* stop = nullptr;
    const double parsed = std::strtod(number.c_str(), &stop);
    if (stop != number.c_str() + number.size()) return std::string(kNotANumber);
    if (!std::isfinite(parsed) || parsed < min || parsed > max) return numberRangeMessage(min, max);
    value = static_cast<float>(parsed);
    return std::nullopt;
}

std::optional<std::string> checkTextField(const std::string& text, int maxChars) {
    if (text.size() > static_cast<std::size_t>(maxChars)) return textLengthMessage(maxChars);
    return std::nullopt;
}

std::string formatNumber(float value) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%g", static_cast<double>(value));
    return buffer;
}

std::string formatInteger(std::int32_t value) { return std::to_string(value); }

}  // namespace quorna
