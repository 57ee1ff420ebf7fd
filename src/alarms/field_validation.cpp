#include "alarms/field_validation.h"

#include <charconv>
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

std::optional<std::string> parseIntegerField(const std::string& text, std::int32_t min, std::int32_t max,
                                             std::int32_t& value) {
    const std::string digits = trimmed(text);
    const char* begin = digits.data();
    const char* end = begin + digits.size();
    if (begin != end && *begin == '+') {  // from_chars takes a minus sign only
        ++begin;
        if (begin == end || *begin < '0' || *begin > '9') return std::string(kNotAnInteger);
    }
    std::int64_t parsed = 0;
    const auto [stop, error] = std::from_chars(begin, end, parsed);
    if (stop != end) return std::string(kNotAnInteger);
    // A number too long for 64 bits is still an integer, just far out of range.
    if (error == std::errc::result_out_of_range || parsed < min || parsed > max) return integerRangeMessage(min, max);
    if (error != std::errc{}) return std::string(kNotAnInteger);
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
