// The delimited text log: the line layout, the delimiter of each format, and what happens to
// the file and the queued records when the file cannot be opened or a write fails part-way.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "file_logging_fixture.h"

namespace quorna::test {
namespace {

const std::string kZeros41 = [] {
    std::string text;
    for (int i = 0; i < 41; ++i) text += ",0.000";
    return text;
}();

TEST(LogLine, FormatZeroAndSevenGiveCommasTwoTabsThreeSpaces) {
    EXPECT_EQ(delimiterForFormat(0), ',');
    EXPECT_EQ(delimiterForFormat(1), ',');
    EXPECT_EQ(delimiterForFormat(2), '\t');
    EXPECT_EQ(delimiterForFormat(3), ' ');
    EXPECT_EQ(delimiterForFormat(7), ',');
    EXPECT_EQ(delimiterForFormat(-1), ',');
}

TEST(LogLine, TimeAddressAndFortyTwoCurrentsEndWithCarriageReturnLineFeed) {
    const RecordPtr record = branchRecord(1, localTime(2002, 3, 7, 14, 15, 0), 12.34F);
    EXPECT_EQ(logLine(*record, ','), "03/07/2002 14:15:00,1,12.340" + kZeros41 + "\r\n");

    std::string tabbed = logLine(*record, '\t');
    EXPECT_EQ(tabbed.substr(0, 30), "03/07/2002 14:15:00\t1\t12.340\t0");
    EXPECT_EQ(std::count(tabbed.begin(), tabbed.end(), '\t'), 43);
}

TEST_F(FileLoggingTest, EachFormatWritesItsDelimiterAndFormatsZeroAndSevenWriteCommas) {
    const std::time_t t = localTime(2002, 3, 7, 14, 15, 0);
    for (const int format : {0, 1, 2, 3, 7}) {
        SCOPED_TRACE(format);
        const std::string path = dir + "/format" + std::to_string(format) + ".txt";
        enableFileLogging(path, format);
        station().logging().queueForFile(branchRecord(5, t, 1.5F));
        FileLogWriter(station().logging());
        const char d = format == 2 ? '\t' : format == 3 ? ' ' : ',';
        std::string expected = std::string("03/07/2002 14:15:00") + d + "5" + d + "1.500";
        for (int i = 0; i < 41; ++i) expected += std::string(1, d) + "0.000";
        EXPECT_EQ(fileText(path), expected + "\r\n");
        EXPECT_TRUE(station().logging().fileQueue().empty());
    }
}

TEST_F(FileLoggingTest, LinesAreAppendedAfterWhatTheFileHeldWithoutAHeader) {
    { std::ofstream(logPath, std::ios::binary) << "earlier line\r\n"; }
    enableFileLogging(logPath);
    station().logging().queueForFile(branchRecord(1, localTime(2002, 3, 7, 14, 15, 0), 0.0F));
    FileLogWriter(station().logging());
    const auto lines = linesOf(fileText(logPath));
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0], "earlier line");
    EXPECT_EQ(lines[1].substr(0, 22), "03/07/2002 14:15:00,1,");
}

TEST_F(FileLoggingTest, RecordsOfOtherModelsWriteNothingButLeaveTheQueue) {
    enableFileLogging(logPath);
    auto temperature = std::make_shared<ReadingsRecord>();
    temperature->model = 600;
    temperature->address = 2;
    auto failed = std::make_shared<ReadingsRecord>();  // a meter that did not answer: model 0
    failed->address = 3;
    station().logging().queueForFile(temperature);
    station().logging().queueForFile(failed);
    station().logging().queueForFile(branchRecord(4, clock, 2.0F));
    FileLogWriter(station().logging());
    const auto lines = linesOf(fileText(logPath));
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0].substr(20, 8), "4,2.000,");
    EXPECT_TRUE(station().logging().fileQueue().empty());
}

TEST_F(FileLoggingTest, NothingHappensWhileLoggingIsOffOrNoFileIsChosen) {
    station().logging().queueForFile(branchRecord(1, clock, 1.0F));
    enableFileLogging(logPath);
    station().settings().fileLoggingEnabled = false;
    FileLogWriter(station().logging());
    station().settings().fileLoggingEnabled = true;
    station().settings().logFilePath.clear();
    FileLogWriter(station().logging());
    EXPECT_FALSE(std::filesystem::exists(logPath));
    EXPECT_EQ(station().logging().fileQueue().size(), 1U);
}

TEST_F(FileLoggingTest, AFileThatCannotBeOpenedKeepsTheRecordsQueuedAndShowsNothing) {
    const std::string unreachable = dir + "/no-such-folder/plant.csv";
    enableFileLogging(unreachable);
    station().logging().queueForFile(branchRecord(1, clock, 1.0F));
    FileLogWriter(station().logging());
    EXPECT_EQ(station().logging().fileQueue().size(), 1U);
    EXPECT_TRUE(op.messages.empty());

    // A directory in place of the file cannot be opened for writing either.
    enableFileLogging(dir);
    FileLogWriter(station().logging());
    EXPECT_EQ(station().logging().fileQueue().size(), 1U);
}

TEST_F(FileLoggingTest, ADiskThatFillsUpHalfWayLeavesTheFileByteIdenticalAndTheRecordsQueued) {
    const std::string before = "03/07/2002 14:00:00,1,1.000" + kZeros41 + "\r\n";
    { std::ofstream(logPath, std::ios::binary) << before; }
    enableFileLogging(logPath);
    const std::time_t t1 = localTime(2002, 3, 7, 14, 15, 0);
    station().logging().queueForFile(branchRecord(1, t1, 2.0F));
    station().logging().queueForFile(branchRecord(5, t1, 3.0F));

    // The device takes part of the block, then reports that it is full.
    int calls = 0;
    station().logging().useFileWrite([&](int fd, const void* bytes, std::size_t count) -> ssize_t {
        if (++calls == 1) return ::write(fd, bytes, count / 2);
        errno = ENOSPC;
        return -1;
    });
    FileLogWriter(station().logging());
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(fileText(logPath), before);
    ASSERT_EQ(station().logging().fileQueue().size(), 2U);

    // The next moment, with room on the disk again, writes both records once, then its own.
    station().logging().useFileWrite(nullptr);
    const std::time_t t2 = localTime(2002, 3, 7, 14, 30, 0);
    station().logging().queueForFile(branchRecord(1, t2, 4.0F));
    FileLogWriter(station().logging());
    const auto lines = linesOf(fileText(logPath));
    ASSERT_EQ(lines.size(), 4U);
    EXPECT_EQ(lines[1].substr(0, 28), "03/07/2002 14:15:00,1,2.000,");
    EXPECT_EQ(lines[2].substr(0, 28), "03/07/2002 14:15:00,5,3.000,");
    EXPECT_EQ(lines[3].substr(0, 28), "03/07/2002 14:30:00,1,4.000,");
    EXPECT_TRUE(station().logging().fileQueue().empty());
}

TEST_F(FileLoggingTest, AWriteThatFailsAtOnceLeavesNoTraceEither) {
    enableFileLogging(logPath);
    station().logging().queueForFile(branchRecord(1, clock, 2.0F));
    station().logging().useFileWrite([](int, const void*, std::size_t) -> ssize_t {
        errno = EIO;
        return -1;
    });
    FileLogWriter(station().logging());
    EXPECT_EQ(fileText(logPath), "");
    EXPECT_EQ(station().logging().fileQueue().size(), 1U);
}

TEST_F(FileLoggingTest, ShortAndInterruptedWritesStillWriteTheWholeBlock) {
    enableFileLogging(logPath);
    station().logging().queueForFile(branchRecord(1, clock, 2.0F));
    station().logging().queueForFile(branchRecord(2, clock, 3.0F));
    int calls = 0;
    station().logging().useFileWrite([&](int fd, const void* bytes, std::size_t count) -> ssize_t {
        if (++calls % 3 == 0) {
            errno = EINTR;
            return -1;
        }
        return ::write(fd, bytes, count < 7 ? count : 7);
    });
    FileLogWriter(station().logging());
    station().logging().useFileWrite(nullptr);
    const auto lines = linesOf(fileText(logPath));
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0], logLine(*branchRecord(1, clock, 2.0F), ',').substr(0, lines[0].size()));
    EXPECT_EQ(lines[1] + "\r\n", logLine(*branchRecord(2, clock, 3.0F), ','));
    EXPECT_TRUE(station().logging().fileQueue().empty());
}

}  // namespace
}  // namespace quorna::test
