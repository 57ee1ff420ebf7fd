// The "Configuration" window on the offscreen platform, reached through its command: the marks
// and texts it shows, the arrows, the port buttons, "Save", "OK" and "Cancel".

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

#include "gui/main/command_ids.h"
#include "gui/main/comms_config_window.h"
#include "comms_fixture.h"
#include "stub_app_shell.h"

namespace quorna::test {
namespace {

template <typename T>
T* child(QDialog& dialog, const char* name) {
    T* widget = dialog.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

std::string textOf(QDialog& dialog, const char* name) { return child<QLineEdit>(dialog, name)->text().toStdString(); }

class CommsWindowTest : public CommsTest {
protected:
    void SetUp() override {
        CommsTest::SetUp();
        installCommsCommands(shell);
    }
    StubAppShell shell{[this]() -> Station& { return station(); }};
};

TEST_F(CommsWindowTest, TheCommandSitsInTheConfigurationMenu) {
    ASSERT_EQ(shell.commands.count(kCmdComms), 1U);
    EXPECT_EQ(shell.commands[kCmdComms].menu, "Configuration");
    EXPECT_EQ(shell.commands[kCmdComms].entry, "Comms");
}

TEST_F(CommsWindowTest, OpeningShowsThePortAndMarksCom3NineteenTwoAndOdd) {
    station().bus().link().portName = "COM3:";
    station().bus().link().speed = 8192;
    station().bus().link().parity = 1;
    bool ran = false;
    shell.whileModal = [&](QDialog& dialog) {
        ran = true;
        EXPECT_EQ(dialog.windowTitle(), "Configuration");
        EXPECT_EQ(textOf(dialog, "serialPort"), "COM3:");
        EXPECT_EQ(textOf(dialog, "scanDepth"), "16 devices");
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(child<QRadioButton>(dialog, ("port" + std::to_string(i)).c_str())->isChecked(), i == 2);
            EXPECT_EQ(child<QRadioButton>(dialog, ("speed" + std::to_string(i)).c_str())->isChecked(), i == 3);
        }
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(child<QRadioButton>(dialog, ("parity" + std::to_string(i)).c_str())->isChecked(), i == 2);
        EXPECT_EQ(child<QRadioButton>(dialog, "speed3")->text(), "19.2K");
        EXPECT_EQ(child<QRadioButton>(dialog, "parity2")->text(), "Odd");
        saveScreenshot(dialog, "comms-config-dialog");
        child<QPushButton>(dialog, "cancel")->click();
    };
    shell.dispatch(kCmdComms);
    EXPECT_TRUE(ran);
}

TEST_F(CommsWindowTest, ASpeedNoButtonStandsForMarksNoSpeed) {
    station().bus().link().speed = 300;
    shell.whileModal = [&](QDialog& dialog) {
        for (int i = 0; i < 4; ++i)
            EXPECT_FALSE(child<QRadioButton>(dialog, ("speed" + std::to_string(i)).c_str())->isChecked());
        EXPECT_TRUE(child<QRadioButton>(dialog, "parity0")->isChecked());
    };
    shell.dispatch(kCmdComms);
}

TEST_F(CommsWindowTest, TheArrowsStepTheDepthAndWrapAround) {
    station().settings().scanDepth = 1;
    shell.whileModal = [&](QDialog& dialog) {
        EXPECT_EQ(textOf(dialog, "scanDepth"), "1 devices");
        child<QToolButton>(dialog, "depthDown")->click();
        EXPECT_EQ(textOf(dialog, "scanDepth"), "247 devices");
        child<QToolButton>(dialog, "depthUp")->click();
        EXPECT_EQ(textOf(dialog, "scanDepth"), "1 devices");
        child<QToolButton>(dialog, "depthUp")->click();
        EXPECT_EQ(textOf(dialog, "scanDepth"), "2 devices");
    };
    shell.dispatch(kCmdComms);
    EXPECT_EQ(station().settings().scanDepth, 2);  // Cancel keeps the depth
}

TEST_F(CommsWindowTest, APortThatCannotBeOpenedKeepsTheOldNameInTheField) {
    busOnPort(1, {"1:230"});
    absentPort(2);
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    shell.whileModal = [&](QDialog& dialog) {
        child<QRadioButton>(dialog, "port1")->click();
        EXPECT_EQ(op.texts(), std::vector<std::string>{"Unable to open COM2:"});
        EXPECT_EQ(textOf(dialog, "serialPort"), "COM1:");
        EXPECT_FALSE(station().bus().link().portOpen);
        child<QPushButton>(dialog, "ok")->click();
    };
    shell.dispatch(kCmdComms);
    EXPECT_FALSE(station().bus().link().portOpen);
    EXPECT_EQ(station().bus().link().portName, "COM1:");
}

TEST_F(CommsWindowTest, SaveWritesTheClickedSettingsAndCancelPutsTheRunningOnesBack) {
    busOnPort(2, {"2:230"});
    station().settings().loggingInterval = 7;
    shell.whileModal = [&](QDialog& dialog) {
        child<QRadioButton>(dialog, "port1")->click();
        EXPECT_EQ(textOf(dialog, "serialPort"), "COM2:");
        child<QRadioButton>(dialog, "speed0")->click();
        child<QRadioButton>(dialog, "parity1")->click();
        child<QPushButton>(dialog, "save")->click();
        EXPECT_TRUE(dialog.isVisible());  // Save leaves the dialog open
        child<QPushButton>(dialog, "cancel")->click();
    };
    shell.dispatch(kCmdComms);
    EXPECT_TRUE(settingsHas("port COM2:"));
    EXPECT_TRUE(settingsHas("speed 256"));
    EXPECT_TRUE(settingsHas("parity 2"));
    EXPECT_TRUE(settingsHas("interval 6"));
    EXPECT_EQ(station().bus().link().portName, "");
    EXPECT_EQ(station().bus().link().speed, 2048);
    EXPECT_EQ(station().bus().link().parity, 0);
    EXPECT_EQ(station().settings().loggingInterval, 7);
    EXPECT_TRUE(station().bus().link().portOpen);  // the port the button opened stays open
}

TEST_F(CommsWindowTest, AStoredLocationWithAQuoteOrTooLongDoesNotBlockOk) {
    for (const std::string& stored : {std::string("Bob's shop"), std::string(40, 'L')}) {
        SCOPED_TRACE(stored);
        station().settings().locationName = stored;  // as a hand-edited file may hold it
        shell.whileModal = [&](QDialog& dialog) {
            child<QPushButton>(dialog, "ok")->click();
            EXPECT_FALSE(dialog.isVisible());
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
        };
        shell.dispatch(kCmdComms);
        EXPECT_TRUE(op.messages.empty());
        EXPECT_EQ(station().settings().locationName, stored);
    }
}

TEST_F(CommsWindowTest, ALocationChangedWithAQuoteStaysOpenUntilMended) {
    station().settings().locationName = "Shop 1";
    shell.whileModal = [&](QDialog& dialog) {
        auto& window = dynamic_cast<CommsConfigWindow&>(dialog);
        window.logic().setLocationText("Bob's");
        child<QPushButton>(dialog, "ok")->click();
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(op.texts(), std::vector<std::string>{"The Location name may not contain quote characters"});
        window.logic().setLocationText("Shop 2");
        child<QPushButton>(dialog, "ok")->click();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    };
    shell.dispatch(kCmdComms);
    EXPECT_EQ(station().settings().locationName, "Shop 2");
}

TEST_F(CommsWindowTest, OkAfterAnotherPortReopensThatPort) {
    busOnPort(1, {"1:230"});
    busOnPort(3, {"3:230"});
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    station().settings().scanDepth = 1;
    shell.whileModal = [&](QDialog& dialog) {
        child<QRadioButton>(dialog, "port2")->click();
        child<QPushButton>(dialog, "ok")->click();
    };
    shell.dispatch(kCmdComms);
    EXPECT_TRUE(station().bus().link().portOpen);
    EXPECT_EQ(station().bus().link().portName, "COM3:");
}

}  // namespace
}  // namespace quorna::test
