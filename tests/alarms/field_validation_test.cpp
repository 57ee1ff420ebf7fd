// What the setup windows accept in an edit, and the messages they give otherwise.

#include <gtest/gtest.h>

#include <cstdint>

#include "forms/field_validation.h"

namespace quorna {
namespace {

std::string integerVerdict(const std::string& text, std::int32_t min = 0, std::int32_t max = 100) {
    std::int32_t value = -7;
    const auto message = parseIntegerField(text, min, max, value);
    return message ? *message : "ok " + std::to_string(value);
}

std::string numberVerdict(const std::string& text) {
    float value = -7.0F;
    const auto message = parseNumberField(text, 0.0F, 65535.0F, value);
    return message ? *message : "ok " + formatNumber(value);
}

TEST(FieldValidation, Integers) {
    EXPECT_EQ(integerVerdict("85"), "ok 85");
    EXPECT_EQ(integerVerdict(" 0 "), "ok 0");
    EXPECT_EQ(integerVerdict("+100"), "ok 100");
    EXPECT_EQ(integerVerdict("101"), "Please enter an integer between 0 and 100.");
    EXPECT_EQ(integerVerdict("-1"), "Please enter an integer between 0 and 100.");
    EXPECT_EQ(integerVerdict("99999999999999999999999"), "Please enter an integer between 0 and 100.");
    EXPECT_EQ(integerVerdict("65536", 0, 65535), "Please enter an integer between 0 and 65535.");
    EXPECT_EQ(integerVerdict("65535", 0, 65535), "ok 65535");
    for (const char* bad : {"", " ", "8.5", "x", "1 2", "+-5", "-", "0x10", "++1"}) {
        EXPECT_EQ(integerVerdict(bad), "Please enter an integer.") << bad;
    }
}

// What the alarm windows take around an integer is narrower than what the panel windows take.
TEST(FieldValidation, IntegerTextsUpTo64Bits) {
    std::int64_t value = -7;
    EXPECT_EQ(scanInteger("9223372036854775807", Blanks::SpacesAndTabs, value), IntegerText::Integer);
    EXPECT_EQ(value, INT64_MAX);
    EXPECT_EQ(scanInteger("-9223372036854775808", Blanks::SpacesAndTabs, value), IntegerText::Integer);
    EXPECT_EQ(value, INT64_MIN);
    EXPECT_EQ(scanInteger("9223372036854775808", Blanks::SpacesAndTabs, value), IntegerText::TooLong);
    EXPECT_EQ(scanInteger("-9223372036854775809", Blanks::SpacesAndTabs, value), IntegerText::TooLong);
    EXPECT_EQ(scanInteger("99999999999999999999999x", Blanks::SpacesAndTabs, value), IntegerText::NotAnInteger);
    EXPECT_EQ(value, INT64_MIN) << "left untouched";
    EXPECT_EQ(scanInteger("\t-12 ", Blanks::SpacesAndTabs, value), IntegerText::Integer);
    EXPECT_EQ(value, -12);
    EXPECT_EQ(scanInteger("\n12\r", Blanks::SpacesAndTabs, value), IntegerText::NotAnInteger);
    EXPECT_EQ(scanInteger("\n12\r", Blanks::AnyWhiteSpace, value), IntegerText::Integer);
    EXPECT_EQ(value, 12);
}

TEST(FieldValidation, Numbers) {
    EXPECT_EQ(numberVerdict("120.1"), "ok 120.1");
    EXPECT_EQ(numberVerdict(" 277 "), "ok 277");
    EXPECT_EQ(numberVerdict("1e2"), "ok 100");
    EXPECT_EQ(numberVerdict("65535"), "ok 65535");
    EXPECT_EQ(numberVerdict("65535.5"), "Please enter a number between 0 and 65535.");
    EXPECT_EQ(numberVerdict("-0.01"), "Please enter a number between 0 and 65535.");
    EXPECT_EQ(numberVerdict("1e999"), "Please enter a number between 0 and 65535.");
    for (const char* bad : {"", "abc", "nan", "inf", "0x1p3", "1,5", "."}) {
        EXPECT_EQ(numberVerdict(bad), "Please enter a number.") << bad;
    }
}

TEST(FieldValidation, TextLengthAndDisplay) {
    EXPECT_FALSE(checkTextField("PNL1", kMeterNameLength));
    EXPECT_EQ(checkTextField("PANEL", kMeterNameLength), "Please enter no more than 4 characters.");
    EXPECT_EQ(formatNumber(27701 * 0.01F), "277.01");
    EXPECT_EQ(formatNumber(27700 * 0.01F), "277");
    EXPECT_EQ(formatNumber(123456789.0F), "1.23457e+08");
}

}  // namespace
}  // namespace quorna
