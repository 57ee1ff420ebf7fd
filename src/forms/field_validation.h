#pragma once
// How the setup windows take a numeric or text field from its edit: the standard validation
// messages, the reading of integer and number texts, and the display of single-precision limits.

#include <cstdint>
#include <optional>
#include <string>

namespace quorna {

// Names on the meter are four characters; the edits that show one accept no more.
inline constexpr int kMeterNameLength = 4;
// The largest value a register holds.
inline constexpr std::int32_t kMaxRegisterValue = 65535;

// The standard messages, with the bounds filled in.
inline constexpr const char* kNotAnInteger = "Please enter an integer.";
inline constexpr const char* kNotANumber = "Please enter a number.";
std::string integerRangeMessage(std::int64_t min, std::int64_t max);  // "Please enter an integer between 0 and 100."
std::string numberRangeMessage(double min, double max);               // "Please enter a number between 0 and 65535."
std::string textLengthMessage(int maxChars);                          // "Please enter no more than 4 characters."

// What may stand around the value in an integer edit: the alarm windows take spaces and tabs,
// the panel windows any white space.
enum class Blanks { SpacesAndTabs, AnyWhiteSpace };

// What an integer edit holds: blanks, an optional sign, decimal digits, blanks.
enum class IntegerText {
    Integer,       // value holds it
    TooLong,       // an integer, but beyond 64 bits; value untouched
    NotAnInteger,  // anything else, the empty text included; value untouched
};
[[nodiscard]] IntegerText scanInteger(const std::string& text, Blanks blanks, std::int64_t& value);

// An integer edit with spaces and tabs around it. On success value gets the number and the result
// is empty; otherwise the result is the message (an integer out of range, however long, gets the
// range message) and value is untouched.
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
