// The comms configuration dialog's logic and the comms command: marks on opening, port buttons
// that open at once, speed and parity taking effect at the next open, the scan depth arrows,
// "Save", "OK" and "Cancel" with the interval and the location, and the reopen after "OK".

#include <gtest/gtest.h>

#include "forms/comms_config_dialog.h"
#include "bus/modbus_master.h"
#include "comms_fixture.h"
#include "logging/logging_sampler.h"

namespace quorna::test {
namespace {

const char* const kSavedMessage = "Current settings saved to \"Quorna.cfg\"\nThis file will be read when the program is restarted";

// Reads one register of a meter on the station's open port: Ok when the meter answered.
ModbusError probe(Station& station, int address) {
    std::int32_t value = 0;
    return readRegisters(station.bus(), address, 0, 1, &value);
}

TEST_F(CommsTest, OpeningMarksThePortSpeedAndParityOfTheSettings) {
    station().bus().link().portName = "COM3:";
    station().bus().link().speed = 8192;
    station().bus().link().parity = 1;
    CommsConfigDialog dialog(station().bus(), station().logging());
    EXPECT_EQ(dialog.markedPort(), 2);    // "COM3"
    EXPECT_EQ(dialog.markedSpeed(), 3);   // "19.2K"
    EXPECT_EQ(dialog.markedParity(), 2);  // "Odd"
    EXPECT_EQ(dialog.portText(), "COM3:");
}

TEST_F(CommsTest, OpeningMarksNothingForCodesAndNamesNoButtonStandsFor) {
    station().bus().link().portName = "COM3";  // no colon: not a button's name
    station().bus().link().speed = 300;
    station().bus().link().parity = 7;
    CommsConfigDialog dialog(station().bus(), station().logging());
    EXPECT_EQ(dialog.markedPort(), -1);
    EXPECT_EQ(dialog.markedSpeed(), -1);
    EXPECT_EQ(dialog.markedParity(), -1);

    station().bus().link().portName.clear();
    station().bus().link().parity = 2;
    CommsConfigDialog second(station().bus(), station().logging());
    EXPECT_EQ(second.markedPort(), -1);
    EXPECT_EQ(second.markedParity(), 1);  // "Even"
}

TEST_F(CommsTest, TheDepthArrowsWrapBetweenOneAndTwoHundredFortySeven) {
    CommsConfigDialog dialog(station().bus(), station().logging());
    EXPECT_EQ(dialog.depthText(), "16 devices");
    dialog.stepDepth(1);
    EXPECT_EQ(dialog.depthText(), "17 devices");
    EXPECT_EQ(station().settings().scanDepth, 17);  // in force at once

    station().settings().scanDepth = 1;
    dialog.stepDepth(-1);
    EXPECT_EQ(dialog.depthText(), "247 devices");
    dialog.stepDepth(1);
    EXPECT_EQ(dialog.depthText(), "1 devices");

    // "Cancel" does not undo the depth.
    dialog.stepDepth(1);
    dialog.cancel();
    EXPECT_EQ(station().settings().scanDepth, 2);
}

TEST_F(CommsTest, ASevenMinuteIntervalBecomesSixOnOkAndStaysSevenOnCancel) {
    station().settings().loggingInterval = 7;
    {
        CommsConfigDialog dialog(station().bus(), station().logging());
        EXPECT_EQ(dialog.intervalText(), "6 min");
        dialog.cancel();
        EXPECT_EQ(station().settings().loggingInterval, 7);
    }
    {
        CommsConfigDialog dialog(station().bus(), station().logging());
        EXPECT_TRUE(dialog.ok());
        EXPECT_EQ(station().settings().loggingInterval, 6);
    }
}

TEST_F(CommsTest, SaveWritesTheNearestIntervalWhetherTheDialogThenEndsWithOkOrCancel) {
    station().settings().loggingInterval = 7;
    CommsConfigDialog dialog(station().bus(), station().logging());
    EXPECT_TRUE(dialog.save());
    EXPECT_TRUE(settingsHas("interval 6"));
    EXPECT_EQ(op.texts(), std::vector<std::string>{kSavedMessage});
    dialog.cancel();
    EXPECT_EQ(station().settings().loggingInterval, 7);
    EXPECT_TRUE(settingsHas("interval 6"));
}

TEST_F(CommsTest, OkRecomputesTheNextLoggingMomentWithTheNewInterval) {
    station().settings().loggingInterval = 7;
    station().logging().setClock(3600 * 24 * 365, 1);  // a sample already taken, the next moment due
    CommsConfigDialog dialog(station().bus(), station().logging());
    dialog.stepInterval(1);  // 6 -> 10 minutes
    EXPECT_EQ(dialog.intervalText(), "10 min");
    ASSERT_TRUE(dialog.ok());
    EXPECT_EQ(station().settings().loggingInterval, 10);
    EXPECT_EQ(station().logging().nextMoment(), nextLoggingMoment(station().logging().sampleTime(), 10));
}

TEST_F(CommsTest, TheIntervalArrowsWrapAndATypedNumberPicksTheNearestChoice) {
    station().settings().loggingInterval = 60;
    CommsConfigDialog dialog(station().bus(), station().logging());
    dialog.stepInterval(1);
    EXPECT_EQ(dialog.intervalText(), "1 min");
    dialog.stepInterval(-1);
    EXPECT_EQ(dialog.intervalText(), "60 min");
    dialog.intervalEdited("8 minutes");
    EXPECT_EQ(dialog.intervalText(), "10 min");
    dialog.intervalEdited("1.5");
    EXPECT_EQ(dialog.intervalText(), "2 min");
    dialog.intervalEdited("soon");
    EXPECT_EQ(dialog.intervalText(), "2 min");
}

TEST_F(CommsTest, ALocationWithAQuoteIsRefusedAndNothingIsStored) {
    station().settings().loggingInterval = 7;
    for (const std::string location : {"North 'A'", "Hall \"B\""}) {
        op.messages.clear();
        CommsConfigDialog dialog(station().bus(), station().logging());
        dialog.setLocationText(location);
        EXPECT_FALSE(dialog.ok());
        EXPECT_EQ(op.texts(), std::vector<std::string>{"The Location name may not contain quote characters"});
        EXPECT_EQ(op.messages[0].caption, "");
        EXPECT_EQ(station().settings().locationName, "Here");
        EXPECT_EQ(station().settings().loggingInterval, 7);
    }
    CommsConfigDialog dialog(station().bus(), station().logging());
    dialog.setLocationText("North Plant");
    EXPECT_TRUE(dialog.ok());
    EXPECT_EQ(station().settings().locationName, "North Plant");
}

TEST_F(CommsTest, AStoredLocationTheOperatorCannotChangeDoesNotBlockOk) {
    // Only a hand-edited file can hold a longer name or a quote: the location edit is hidden.
    for (const std::string& stored : {std::string(33, 'L'), std::string("Bob's \"shop\"")}) {
        SCOPED_TRACE(stored);
        op.messages.clear();
        station().settings().loggingInterval = 7;
        station().settings().locationName = stored;
        CommsConfigDialog dialog(station().bus(), station().logging());
        EXPECT_EQ(dialog.locationText(), stored);
        EXPECT_TRUE(dialog.ok());
        EXPECT_TRUE(op.messages.empty());
        EXPECT_EQ(station().settings().locationName, stored);
        EXPECT_EQ(station().settings().loggingInterval, 6);
    }
    // A longer location entered is refused; thirty-two characters go through.
    station().settings().loggingInterval = 7;
    CommsConfigDialog dialog(station().bus(), station().logging());
    dialog.setLocationText(std::string(34, 'M'));
    EXPECT_FALSE(dialog.ok());
    EXPECT_EQ(op.texts(), std::vector<std::string>{"Please enter no more than 32 characters."});
    EXPECT_EQ(station().settings().loggingInterval, 7);
    op.messages.clear();
    dialog.setLocationText(std::string(32, 'M'));
    EXPECT_TRUE(dialog.ok());
    EXPECT_TRUE(op.messages.empty());
    EXPECT_EQ(station().settings().locationName, std::string(32, 'M'));
}

TEST_F(CommsTest, APortButtonOpensItsPortAtOnceWithoutScanning) {
    MeterSimulator& bus = busOnPort(2, {"1:230"});
    CommsConfigDialog dialog(station().bus(), station().logging());
    EXPECT_TRUE(dialog.clickPort(1));
    EXPECT_TRUE(station().bus().link().portOpen);
    EXPECT_EQ(station().bus().link().portName, "COM2:");
    EXPECT_EQ(dialog.portText(), "COM2:");
    EXPECT_TRUE(op.messages.empty());
    EXPECT_TRUE(bus.requests().empty());  // no scan from here
    EXPECT_EQ(probe(station(), 1), ModbusError::Ok);
}

TEST_F(CommsTest, APortThatCannotBeOpenedLeavesNoPortOpenAndTheNameUnchanged) {
    busOnPort(1, {"1:230"});
    absentPort(2);
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    CommsConfigDialog dialog(station().bus(), station().logging());
    EXPECT_FALSE(dialog.clickPort(1));
    EXPECT_EQ(op.texts(), std::vector<std::string>{"Unable to open COM2:"});
    EXPECT_EQ(op.messages[0].caption, "");
    EXPECT_FALSE(station().bus().link().portOpen);
    EXPECT_EQ(station().bus().link().portName, "COM1:");
    EXPECT_EQ(dialog.portText(), "COM1:");

    // After "OK" the command sees an unchanged name and opens nothing.
    CommsCommand(station().meters(), [&] { return dialog.ok(); });
    EXPECT_FALSE(station().bus().link().portOpen);
    EXPECT_EQ(op.messages.size(), 1U);
}

TEST_F(CommsTest, SaveThenCancelLeavesTheClickedSettingsInTheFileAndTheOldOnesRunning) {
    busOnPort(1, {"1:230"});
    busOnPort(2, {"2:230"});
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    CommsCommand(station().meters(), [&] {
        CommsConfigDialog dialog(station().bus(), station().logging());
        dialog.clickSpeed(3);   // 19.2K
        dialog.clickParity(1);  // Even
        EXPECT_TRUE(dialog.clickPort(1));
        EXPECT_TRUE(dialog.save());
        EXPECT_TRUE(settingsHas("port COM2:"));
        EXPECT_TRUE(settingsHas("speed 8192"));
        EXPECT_TRUE(settingsHas("parity 2"));
        dialog.cancel();
        return false;
    });
    EXPECT_EQ(station().bus().link().portName, "COM1:");
    EXPECT_EQ(station().bus().link().speed, 2048);
    EXPECT_EQ(station().bus().link().parity, 0);
    // The link stays on the port the operator clicked last.
    EXPECT_TRUE(station().bus().link().portOpen);
    EXPECT_EQ(probe(station(), 2), ModbusError::Ok);
    EXPECT_TRUE(settingsHas("port COM2:"));
}

TEST_F(CommsTest, ANewSpeedReachesTheLineOnlyWhenAPortIsOpenedAgain) {
    // The meters answer only requests sent at their own speed, 9600 baud.
    busOnPort(1, {"1:230"}, {"--check-line"});
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    CommsConfigDialog dialog(station().bus(), station().logging());
    dialog.clickSpeed(3);
    ASSERT_TRUE(dialog.ok());
    EXPECT_EQ(station().bus().link().speed, 8192);
    EXPECT_EQ(probe(station(), 1), ModbusError::Ok);  // still at 9600

    CommsConfigDialog again(station().bus(), station().logging());
    ASSERT_TRUE(again.clickPort(0));       // reopened at 19200
    EXPECT_EQ(probe(station(), 1), ModbusError::Timeout);
}

TEST_F(CommsTest, OkAfterChoosingAnotherPortReopensItByName) {
    busOnPort(1, {"1:230"});
    MeterSimulator& second = busOnPort(2, {"2:230"});
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    station().settings().scanDepth = 2;
    CommsCommand(station().meters(), [&] {
        CommsConfigDialog dialog(station().bus(), station().logging());
        EXPECT_TRUE(dialog.clickPort(1));
        return dialog.ok();
    });
    EXPECT_TRUE(station().bus().link().portOpen);
    EXPECT_EQ(station().bus().link().portName, "COM2:");
    EXPECT_EQ(station().bus().link().openFailures, 0);
    // Both scans run after the command, a step at a time: addresses 1 and 2, twice.
    EXPECT_TRUE(station().scanning());
    while (station().scanStep()) {
    }
    std::vector<int> probed;
    for (const SimRequest& r : second.requests())
        if (r.bytes.size() > 1 && r.bytes[1] == 17) probed.push_back(r.bytes[0]);
    EXPECT_EQ(probed, (std::vector<int>{1, 2, 1, 2})) << "two scans of two addresses, one after the other";
    EXPECT_EQ(station().meters().list().entries().size(), 1U);
    EXPECT_EQ(probe(station(), 2), ModbusError::Ok);
}

// A port button stands for a gateway when its QUORNA_COMn names one; a gateway named in the
// settings themselves is shown and saved whole, and marks no button.
TEST_F(CommsTest, APortButtonCanStandForAGatewayAndAGatewaysNameIsShownAndSavedWhole) {
    MeterSimulator& gateway = busOnPort(4, {"1:230"}, {"--rtu-tcp", "0"});
    const std::string name = gateway.gatewayName("rtu+tcp://");
    setenv("QUORNA_COM2", name.c_str(), 1);
    {
        CommsConfigDialog dialog(station().bus(), station().logging());
        EXPECT_TRUE(dialog.clickPort(1));
        EXPECT_EQ(dialog.portText(), "COM2:");
        EXPECT_EQ(probe(station(), 1), ModbusError::Ok);
        EXPECT_TRUE(dialog.save());
        EXPECT_TRUE(settingsHas("port COM2:"));
        dialog.cancel();
    }
    station().bus().link().portName = name;
    CommsConfigDialog dialog(station().bus(), station().logging());
    EXPECT_EQ(dialog.markedPort(), -1);
    EXPECT_EQ(dialog.portText(), name);
    EXPECT_TRUE(dialog.save());
    EXPECT_TRUE(settingsHas("port " + name)) << settingsFile();
}

}  // namespace
}  // namespace quorna::test
