// How the panel windows read what the operator typed, and their two text lines.
#include <gtest/gtest.h>

#include "forms/panel/panel_fields.h"
#include "recording_operator.h"

namespace quorna::test {
namespace {

TEST(PanelFieldsTest, IntegersMayHaveBlanksAndASignButNothingElse) {
    using panel::parseInteger;
    EXPECT_EQ(parseInteger(" 30 "), 30);
    EXPECT_EQ(parseInteger("+12"), 12);
    EXPECT_EQ(parseInteger("-1"), -1);
    EXPECT_EQ(parseInteger("2147483647"), 2147483647);
    EXPECT_EQ(parseInteger("-2147483648"), -2147483647 - 1);
    EXPECT_FALSE(parseInteger(""));
    EXPECT_FALSE(parseInteger("   "));
    EXPECT_FALSE(parseInteger("-"));
    EXPECT_FALSE(parseInteger("3 0"));
    EXPECT_FALSE(parseInteger("30A"));
    EXPECT_FALSE(parseInteger("2.5"));
    EXPECT_FALSE(parseInteger("2147483648"));
    EXPECT_FALSE(parseInteger("99999999999999999999999"));
}

TEST(PanelFieldsTest, TakeShowsTheStandardMessageOnce) {
    RecordingOperator op;
    EXPECT_EQ(panel::takeInteger(op, "50", 10, 50), 50);
    EXPECT_FALSE(panel::takeInteger(op, "", 10, 50));
    EXPECT_FALSE(panel::takeInteger(op, "4000000000", 1, 5999));
    EXPECT_FALSE(panel::takeInteger(op, "-1", 10, 50));
    EXPECT_EQ(panel::takeInteger(op, "-1", 10, 50, -1), -1);  // what the meter gave passes
    EXPECT_TRUE(panel::takeName(op, "AB"));
    EXPECT_TRUE(panel::takeName(op, ""));
    EXPECT_FALSE(panel::takeName(op, "ABCDE"));
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Please enter an integer.", "Please enter an integer.",
                                                    "Please enter an integer between 10 and 50.",
                                                    "Please enter no more than 4 characters."}));
}

TEST(PanelFieldsTest, FirmwareAndSerialLines) {
    EXPECT_EQ(panel::firmwareText(3, 12), "Firmware V3.12");
    EXPECT_EQ(panel::firmwareText(0, 0), "Firmware V0.0");
    EXPECT_EQ(panel::serialText(100000), "Serial Number - 00100000");
    EXPECT_EQ(panel::serialText(0), "Serial Number - 00000000");
    EXPECT_EQ(panel::serialText(123456789), "Serial Number - 123456789");
    EXPECT_EQ(panel::serialText(0x80000000U), "Serial Number - 2147483648");
    EXPECT_EQ(panel::signed16(65535), -1);
    EXPECT_EQ(panel::signed16(5999), 5999);
}

}  // namespace
}  // namespace quorna::test
