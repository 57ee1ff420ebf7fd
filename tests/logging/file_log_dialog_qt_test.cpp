// "Logging File Setup" on the offscreen platform, reached through its command: the texts it
// shows, "Logging Active" without and with a file, the chosen file and format, "OK" and "Cancel".

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include "gui/main/command_ids.h"
#include "file_logging_fixture.h"
#include "gui/logging/log_file_window.h"
#include "stub_app_shell.h"

namespace quorna::test {
namespace {

template <typename T>
T* child(QDialog& dialog, const char* name) {
    T* widget = dialog.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

class LogFileWindowTest : public FileLoggingTest {
protected:
    void SetUp() override {
        FileLoggingTest::SetUp();
        installLogFileCommands(shell);
    }
    StubAppShell shell{[this]() -> Station& { return station(); }};
};

TEST_F(LogFileWindowTest, TheCommandSitsInTheConfigurationMenuWithControlL) {
    ASSERT_EQ(shell.commands.count(kCmdLogFileSetup), 1U);
    EXPECT_EQ(shell.commands[kCmdLogFileSetup].menu, "Configuration");
    EXPECT_EQ(shell.commands[kCmdLogFileSetup].entry, "Log File");
    EXPECT_EQ(shell.commands[kCmdLogFileSetup].shortcut, QKeySequence(QStringLiteral("Ctrl+L")));
}

TEST_F(LogFileWindowTest, LoggingActiveNeedsAFileChosenThroughSelectOutputFile) {
    bool ran = false;
    shell.whileModal = [&](QDialog& dialog) {
        ran = true;
        EXPECT_EQ(dialog.windowTitle(), "Logging File Setup");
        QStringList labels;
        for (QLabel* label : dialog.findChildren<QLabel*>()) labels << label->text();
        EXPECT_TRUE(labels.contains("Filename:"));
        EXPECT_TRUE(child<QRadioButton>(dialog, "formatComma")->isChecked());
        EXPECT_EQ(child<QRadioButton>(dialog, "formatComma")->text(), ".CSV (Comma-Separated Variable)");
        EXPECT_EQ(child<QRadioButton>(dialog, "formatTab")->text(), ".TXT (Tab-delimited)");
        EXPECT_EQ(child<QRadioButton>(dialog, "formatSpace")->text(), ".TXT (Space-delimited)");

        QCheckBox* active = child<QCheckBox>(dialog, "loggingActive");
        active->click();
        EXPECT_EQ(op.texts(), std::vector<std::string>{"You must specify a file before enabling the logging function!"});
        EXPECT_FALSE(active->isChecked());
        EXPECT_FALSE(station().settings().fileLoggingEnabled);

        dynamic_cast<LogFileWindow&>(dialog).setFileChooser([this](QWidget*) { return QString::fromStdString(dir + "/DATA"); });
        child<QPushButton>(dialog, "selectOutputFile")->click();
        EXPECT_EQ(child<QLineEdit>(dialog, "path")->text().toStdString(), dir + "/DATA.TXT");
        active->click();
        EXPECT_TRUE(active->isChecked());
        EXPECT_TRUE(station().settings().fileLoggingEnabled);
        child<QRadioButton>(dialog, "formatTab")->click();
        EXPECT_EQ(station().settings().fileFormat, 2);
        // The manual's picture shows a file where a user keeps one, not the test's temporary folder.
        {
            QLineEdit* path = child<QLineEdit>(dialog, "path");
            const QString chosen = path->text();
            const QSignalBlocker quiet(path);
            path->setText(QStringLiteral("/var/lib/quorna/DATA.TXT"));
            saveScreenshot(dialog, "log-file-setup");
            path->setText(chosen);
        }
        child<QPushButton>(dialog, "ok")->click();
    };
    station().logging().queueForFile(branchRecord(1, clock, 1.0F));
    shell.dispatch(kCmdLogFileSetup);
    EXPECT_TRUE(ran);
    EXPECT_EQ(station().settings().logFilePath, dir + "/DATA.TXT");
    EXPECT_TRUE(station().settings().fileLoggingEnabled);
    EXPECT_TRUE(station().logging().fileQueue().empty());  // "OK" discards what waited for the file
}

TEST_F(LogFileWindowTest, CancelPutsPathFlagAndFormatBack) {
    enableFileLogging(logPath, 3);
    shell.whileModal = [&](QDialog& dialog) {
        EXPECT_EQ(child<QLineEdit>(dialog, "path")->text().toStdString(), logPath);
        EXPECT_TRUE(child<QCheckBox>(dialog, "loggingActive")->isChecked());
        EXPECT_TRUE(child<QRadioButton>(dialog, "formatSpace")->isChecked());
        dynamic_cast<LogFileWindow&>(dialog).setFileChooser([this](QWidget*) { return QString::fromStdString(dir + "/new.csv"); });
        child<QPushButton>(dialog, "selectOutputFile")->click();
        child<QRadioButton>(dialog, "formatComma")->click();
        child<QCheckBox>(dialog, "loggingActive")->click();
        child<QPushButton>(dialog, "cancel")->click();
    };
    station().logging().queueForFile(branchRecord(1, clock, 1.0F));
    shell.dispatch(kCmdLogFileSetup);
    EXPECT_EQ(station().settings().logFilePath, logPath);
    EXPECT_EQ(station().settings().fileFormat, 3);
    EXPECT_TRUE(station().settings().fileLoggingEnabled);
    EXPECT_EQ(station().logging().fileQueue().size(), 1U);
}

}  // namespace
}  // namespace quorna::test
