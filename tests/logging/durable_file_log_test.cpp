// The log file across stops: records spooled by one run are written first by the next, an append
// killed half-way leaves neither half a block nor a block twice, and a spool that cannot be
// written is said once while logging goes on in memory.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "file_logging_fixture.h"
#include "logging/durable_queue.h"
#include "logging/logging.h"

namespace quorna::test {
namespace {

class DurableFileLog : public FileLoggingTest {
protected:
    void SetUp() override {
        FileLoggingTest::SetUp();
        state = dir + "/spool/";
        std::filesystem::create_directory(state);
        station().logging.stateDirectory = state;
    }
    // A moment of two Branch meters at the time, handed to the spool and written.
    void moment(std::time_t time, float first) {
        station().logging.fileQueue.push(branchRecord(1, time, first));
        station().logging.fileQueue.push(branchRecord(5, time, first + 1.0F));
        keepWaitingRecords(station().logging);
        FileLogWriter(station().logging);
    }
    // A new run of the program on the same spool: the station of the last one is gone.
    void restart() {
        useFreshStation(op);
        station().logging.stateDirectory = state;
        enableFileLogging(logPath);
    }
    std::time_t at(int minute) const { return localTime(2025, 1, 15, 10, minute, 0); }

    std::string state;  // the folder of the spool, kept across restarts
};

TEST_F(DurableFileLog, WhatOneRunSpooledTheNextWritesFirstInTimeOrder) {
    enableFileLogging(dir + "/away/plant.csv");  // the log folder is not there
    moment(at(0), 1.0F);
    moment(at(1), 2.0F);
    EXPECT_EQ(recordsWaiting(station().logging), 4U);
    EXPECT_TRUE(station().logging.fileQueue.empty()) << "waiting records live on disk, not in memory";

    restart();
    moment(at(2), 3.0F);
    const auto lines = linesOf(fileText(logPath));
    ASSERT_EQ(lines.size(), 6U);
    const char* const expected[] = {"10:00:00,1,1.000", "10:00:00,5,2.000", "10:01:00,1,2.000",
                                    "10:01:00,5,3.000", "10:02:00,1,3.000", "10:02:00,5,4.000"};
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].substr(11, 16), expected[i]) << i;
    EXPECT_EQ(recordsWaiting(station().logging), 0U);
    EXPECT_TRUE(op.messages.empty());
}

TEST_F(DurableFileLog, AnAppendKilledHalfWayIsWrittenWholeAndOnceByTheNextRun) {
    enableFileLogging(logPath);
    moment(at(0), 1.0F);
    const std::string before = fileText(logPath);
    ASSERT_EQ(linesOf(before).size(), 2U);

    // The next moment's append dies after half its bytes, without warning.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        station().logging.fileWrite = [](int fd, const void* bytes, std::size_t count) {
            (void)::write(fd, bytes, count / 2);
            ::raise(SIGKILL);
            return static_cast<ssize_t>(-1);
        };
        moment(at(1), 2.0F);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    const std::string torn = fileText(logPath);
    ASSERT_GT(torn.size(), before.size()) << "half a block reached the file";

    restart();
    moment(at(2), 3.0F);
    const std::string after = fileText(logPath);
    ASSERT_EQ(after.substr(0, before.size()), before);
    const auto lines = linesOf(after);
    ASSERT_EQ(lines.size(), 6U) << after;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].size(), lines[0].size()) << "no torn line " << i;
        EXPECT_EQ(lines[i].substr(11, 8), i < 2 ? "10:00:00" : i < 4 ? "10:01:00" : "10:02:00");
    }
}

TEST_F(DurableFileLog, ASpoolThatCannotBeWrittenIsSaidOnceAndTheLinesStillReachTheFile) {
    enableFileLogging(logPath);
    state = dir + "/state/";
    station().logging.stateDirectory = state;  // a folder that is not there yet
    moment(at(0), 1.0F);
    moment(at(1), 2.0F);
    EXPECT_EQ(op.texts(), std::vector<std::string>{kSpoolFailureText});
    EXPECT_EQ(linesOf(fileText(logPath)).size(), 4U);

    // The folder comes: the spool is used again, and nothing more is said.
    std::filesystem::create_directory(state);
    enableFileLogging(dir + "/away/plant.csv");
    moment(at(2), 3.0F);
    EXPECT_TRUE(std::filesystem::exists(state + kSpoolFileName));
    EXPECT_EQ(recordsWaiting(station().logging), 2U);
    EXPECT_EQ(op.messages.size(), 1U);
}

}  // namespace
}  // namespace quorna::test
