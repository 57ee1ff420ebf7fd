// "Logging File Setup": switching logging on without and with a file, choosing file and format,
// "OK" discarding the records still waiting, "Cancel" bringing back the settings of before.

#include <gtest/gtest.h>

#include "file_logging_fixture.h"
#include "forms/log_file_dialog.h"

namespace quorna::test {
namespace {

TEST_F(FileLoggingTest, LogFileDialogCheckingLoggingActiveWithoutAFileShowsTheMessageAndLeavesLoggingOff) {
    LogFileDialog dialog(station().logging());
    EXPECT_FALSE(dialog.loggingActive());
    EXPECT_FALSE(dialog.setLoggingActive(true));
    EXPECT_EQ(op.texts(), std::vector<std::string>{"You must specify a file before enabling the logging function!"});
    EXPECT_EQ(op.messages[0].caption, "");
    EXPECT_FALSE(station().settings().fileLoggingEnabled);

    // Choosing a file first and then checking the box enables it at once.
    dialog.chooseFile(dir + "/DATA");
    EXPECT_EQ(station().settings().logFilePath, dir + "/DATA.TXT");
    EXPECT_TRUE(dialog.setLoggingActive(true));
    EXPECT_TRUE(station().settings().fileLoggingEnabled);
    EXPECT_EQ(op.messages.size(), 1U);

    EXPECT_FALSE(dialog.setLoggingActive(false));
    EXPECT_FALSE(station().settings().fileLoggingEnabled);
}

TEST(LogFileName, TheDefaultExtensionIsAddedOnlyToANameWithoutOne) {
    EXPECT_EQ(withDefaultExtension("/home/op/DATA"), "/home/op/DATA.TXT");
    EXPECT_EQ(withDefaultExtension("/home/op/plant.csv"), "/home/op/plant.csv");
    EXPECT_EQ(withDefaultExtension("/home/op.d/plant"), "/home/op.d/plant.TXT");
}

TEST_F(FileLoggingTest, LogFileDialogMarksExactlyOneFormatCommaForAnyUnknownValue) {
    for (const auto& [format, marked] : std::vector<std::pair<int, int>>{{1, 1}, {2, 2}, {3, 3}, {0, 1}, {7, 1}}) {
        station().settings().fileFormat = format;
        EXPECT_EQ(LogFileDialog(station().logging()).markedFormat(), marked) << format;
    }
}

TEST_F(FileLoggingTest, LogFileDialogCancelAfterANewFileAndFormatLeavesTheOldOnesInForce) {
    enableFileLogging(logPath, kFormatComma);
    LogFileDialog dialog(station().logging());
    dialog.chooseFile(dir + "/other.txt");
    dialog.chooseFormat(kFormatSpace);
    dialog.setLoggingActive(false);
    // Changes act at once: a moment falling now would use them.
    EXPECT_EQ(station().settings().logFilePath, dir + "/other.txt");
    EXPECT_EQ(station().settings().fileFormat, kFormatSpace);

    dialog.cancel();
    EXPECT_EQ(station().settings().logFilePath, logPath);
    EXPECT_EQ(station().settings().fileFormat, kFormatComma);
    EXPECT_TRUE(station().settings().fileLoggingEnabled);
}

TEST_F(FileLoggingTest, LogFileDialogOkDiscardsTheRecordsWaitingForTheFile) {
    enableFileLogging(dir + "/missing/plant.csv");
    station().logging().queueForFile(branchRecord(1, clock, 1.0F));
    station().logging().queueForDatabase(station().logging().fileQueue().front());
    LogFileDialog dialog(station().logging());
    dialog.chooseFile(logPath);
    dialog.ok();
    EXPECT_TRUE(station().logging().fileQueue().empty());
    EXPECT_EQ(station().logging().databaseQueue().size(), 1U);  // the database keeps its own
    EXPECT_EQ(station().settings().logFilePath, logPath);
}

}  // namespace
}  // namespace quorna::test
