#pragma once
// How the setup windows take a numeric or text field from its edit: the standard validation
// messages, and the display of single-precision limits.

#include <cstdint>
#include <optional>
#include <string>

namespace quorna {

// The meter name texts the setup windows show hold at most this many characters.
inline constexpr int kMeterNameLength = 4;
// The largest value a register holds.
inline constexpr std::int32_t kMaxRegisterValue = 65535;

// The standard messages, with the bounds filled in.
inline constexpr const char* kNotAnInteger = "Please enter an integer.";
inline constexpr const char* kNotANumber = "Please enter a number.";
std::string integerRangeMessage(std::int64_t min, std::int64_t max);  // "Please enter an integer between 0 and 100."
std::string numberRangeMessage(double min, double max);               // "Please enter a number between 0 and 65535."
std::string textLengthMessage(int maxChars);                          // "Please enter no more than 4 characters."

// An integer edit: optional blanks around an optional sign and decimal digits. On success value
// gets the number and the result is empty; otherwise the result is the message and value is untouched.
[[nodiscard]] std::optional<std::string> parseIntegerField(const std::string& text, std::int32_t min, std::int32_t max,
                                                           std::int32_t& value);
// A number edit: a finite decimal number, optional blanks around it, checked against min and max.
[[nodiscard]] std::optional<std::string> parseNumberField(const std::string& text, float min, float max, float& value);
// A text field of at most maxChars characters.
[[nodiscard]] std::optional<std::string> checkTextField(const std::string& text, int maxChars);

// "%g": up to six significant digits, no trailing zeros (27701 x 0.01 shows "277.01").
std::string formatNumber(float value);
std::string formatInteger(std::int32_t value);

}  // namespace quorna
