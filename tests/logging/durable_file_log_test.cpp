// The log file across stops: records spooled by one run are written first by the next, an append
// killed half-way leaves neither half a block nor a block twice, and a spool that cannot be
// written is said once while logging goes on in memory. Then the spool under faults: a kill at
// its first commit, the log folder away or the log rotated between a kill and the restart, a
// damaged spool and rows that cannot be readings.

#include <gtest/gtest.h>

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "file_logging_fixture.h"
#include "logging/durable_queue.h"
#include "logging/logging.h"
#include "logging/spool.h"

namespace quorna::test {
namespace {

class DurableFileLog : public FileLoggingTest {
protected:
    void SetUp() override {
        FileLoggingTest::SetUp();
        state = dir + "/spool/";
        std::filesystem::create_directory(state);
        station().logging().useStateDirectory(state);
    }
    // A moment of two Branch meters at the time, handed to the spool and written.
    void moment(std::time_t time, float first) {
        station().logging().queueForFile(branchRecord(1, time, first));
        station().logging().queueForFile(branchRecord(5, time, first + 1.0F));
        keepWaitingRecords(station().logging());
        FileLogWriter(station().logging());
    }
    // A new run of the program on the same spool: the station of the last one is gone.
    void restart() {
        freshStation();
        station().logging().useStateDirectory(state);
        enableFileLogging(logPath);
    }
    std::time_t at(int minute) const { return localTime(2025, 1, 15, 10, minute, 0); }

    // The moment at `minute` in a child process that dies without warning after half its append.
    void killedHalfWay(int minute) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            station().logging().useFileWrite([](int fd, const void* bytes, std::size_t count) {
                (void)::write(fd, bytes, count / 2);
                ::raise(SIGKILL);
                return static_cast<ssize_t>(-1);
            });
            moment(at(minute), static_cast<float>(minute));
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    }
    // The files of the spool folder whose names begin with `prefix` (SQLite's "-wal" and "-shm" aside).
    std::vector<std::string> filesNamed(const std::string& prefix) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(state)) {
            const std::string name = entry.path().filename().string();
            const bool index = name.size() > 4 && (name.ends_with("-wal") || name.ends_with("-shm"));
            if (name.rfind(prefix, 0) == 0 && !index) names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // Every line at its minute, each minute's two lines once, none torn.
    void expectMinutes(const std::string& text, const std::vector<int>& minutes) {
        const auto lines = linesOf(text);
        ASSERT_EQ(lines.size(), 2 * minutes.size()) << text;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].size(), lines[0].size()) << "no torn line " << i;
            char stamp[16];
            std::snprintf(stamp, sizeof stamp, "10:%02d:00,%d,", minutes[i / 2], i % 2 == 0 ? 1 : 5);
            EXPECT_EQ(lines[i].substr(11, 11), stamp) << i;
        }
        EXPECT_EQ(text.find('\0'), std::string::npos) << "no NUL byte";
    }

    std::string state;  // the folder of the spool, kept across restarts
};

TEST_F(DurableFileLog, WhatOneRunSpooledTheNextWritesFirstInTimeOrder) {
    enableFileLogging(dir + "/away/plant.csv");  // the log folder is not there
    moment(at(0), 1.0F);
    moment(at(1), 2.0F);
    EXPECT_EQ(recordsWaiting(station().logging()), 4U);
    EXPECT_TRUE(station().logging().fileQueue().empty()) << "waiting records live on disk, not in memory";

    restart();
    moment(at(2), 3.0F);
    const auto lines = linesOf(fileText(logPath));
    ASSERT_EQ(lines.size(), 6U);
    const char* const expected[] = {"10:00:00,1,1.000", "10:00:00,5,2.000", "10:01:00,1,2.000",
                                    "10:01:00,5,3.000", "10:02:00,1,3.000", "10:02:00,5,4.000"};
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].substr(11, 16), expected[i]) << i;
    EXPECT_EQ(recordsWaiting(station().logging()), 0U);
    EXPECT_TRUE(op.messages.empty());
}

// The first moment of a run on a long spool, as the tick takes it: the spool's checks run beside
// the window, the moment's records wait in memory meanwhile, and the catch-up slices then write
// the backlog first and the moment after it, each line once.
TEST_F(DurableFileLog, ALongSpoolOpensBesideTheTickAndItsBacklogStillGoesFirst) {
    enableFileLogging(logPath);
    {
        Spool spool;
        ASSERT_TRUE(spool.open(spoolPath(station().logging())));
        std::vector<RecordPtr> backlog;
        for (int minute = 0; minute < 30; ++minute) {
            for (int k = 0; k < 100; ++k) backlog.push_back(branchRecord(1, at(minute), static_cast<float>(minute)));
        }
        ASSERT_TRUE(spool.append(backlog, true, false));
    }
    restart();
    station().logging().queueForFile(branchRecord(5, at(40), 40.0F));
    keepWaitingRecords(station().logging(), ConnectWait::None);
    FileLogWriter(station().logging());
    EXPECT_FALSE(station().logging().spool().isOpen()) << "the tick does not wait for the spool's checks";
    EXPECT_EQ(station().logging().fileQueue().size(), 1U) << "the moment waits in memory";
    EXPECT_FALSE(std::filesystem::exists(logPath)) << "nothing goes ahead of the backlog";
    EXPECT_TRUE(loggingBehind(station().logging()));
    for (int slice = 0; slice < 1000 && station().catchUp(); ++slice) {
    }
    const auto lines = linesOf(fileText(logPath));
    ASSERT_EQ(lines.size(), 3001U);
    for (std::size_t i = 0; i < 3000; ++i) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "10:%02d:00,1,", static_cast<int>(i / 100));
        ASSERT_EQ(lines[i].substr(11, 11), stamp) << i;
    }
    EXPECT_EQ(lines[3000].substr(11, 16), "10:40:00,5,40.00");
    EXPECT_EQ(recordsWaiting(station().logging()), 0U);
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
        station().logging().useFileWrite([](int fd, const void* bytes, std::size_t count) {
            (void)::write(fd, bytes, count / 2);
            ::raise(SIGKILL);
            return static_cast<ssize_t>(-1);
        });
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
    station().logging().useStateDirectory(state);  // a folder that is not there yet
    moment(at(0), 1.0F);
    moment(at(1), 2.0F);
    EXPECT_EQ(op.texts(), std::vector<std::string>{kSpoolFailureText});
    EXPECT_EQ(linesOf(fileText(logPath)).size(), 4U);

    // The folder comes: the spool is used again, and nothing more is said.
    std::filesystem::create_directory(state);
    enableFileLogging(dir + "/away/plant.csv");
    moment(at(2), 3.0F);
    EXPECT_TRUE(std::filesystem::exists(state + kSpoolFileName));
    EXPECT_EQ(recordsWaiting(station().logging()), 2U);
    EXPECT_EQ(op.messages.size(), 1U);
}

TEST_F(DurableFileLog, AMomentsRecordsForBothSinksEnterTheSpoolInOneCommit) {
    enableFileLogging(dir + "/away/plant.csv");  // the lines wait in the spool
    // The moment's records for the file and the database; the process dies at the spool's first commit.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Logging& logging = station().logging();
        logging.spool().afterCommit = [] { ::raise(SIGKILL); };
        for (const auto queue : {&Logging::queueForFile, &Logging::queueForDatabase}) {
            (logging.*queue)(branchRecord(1, at(0), 1.0F));
            (logging.*queue)(branchRecord(5, at(0), 2.0F));
        }
        keepWaitingRecords(logging);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the hook ran at a commit";

    restart();
    enableFileLogging(dir + "/away/plant.csv");
    keepWaitingRecords(station().logging());
    Spool& spool = station().logging().spool();
    ASSERT_TRUE(spool.isOpen());
    EXPECT_EQ(spool.count(Sink::File), 2U);
    const auto rows = spool.oldest(Sink::Database, 10);
    ASSERT_EQ(rows.size(), 2U) << "the database's rows were in the same commit";
    EXPECT_EQ(rows[0].record->address, 1);
    EXPECT_EQ(rows[1].record->current[0], 2.0F);
}

TEST_F(DurableFileLog, ALogFolderAwayAtTheRestartKeepsTheNoteUntilItIsBack) {
    const std::string logs = dir + "/logs";
    std::filesystem::create_directory(logs);
    logPath = logs + "/plant.csv";
    enableFileLogging(logPath);
    moment(at(0), 0.0F);
    killedHalfWay(1);
    ASSERT_GT(linesOf(fileText(logPath)).size(), 2U) << "half a block reached the file";

    // The restart finds the folder away: nothing can be cut, nothing may be forgotten.
    std::filesystem::rename(logs, dir + "/logs-away");
    restart();
    moment(at(2), 2.0F);
    EXPECT_EQ(recordsWaiting(station().logging()), 4U);
    ASSERT_TRUE(station().logging().spool().pendingAppend().has_value()) << "the note is kept";

    std::filesystem::rename(dir + "/logs-away", logs);
    moment(at(3), 3.0F);
    expectMinutes(fileText(logPath), {0, 1, 2, 3});
    EXPECT_EQ(recordsWaiting(station().logging()), 0U);
    EXPECT_TRUE(op.messages.empty());
}

TEST_F(DurableFileLog, ALogRotatedBetweenAKillAndTheRestartIsNeitherCutNorGrown) {
    enableFileLogging(logPath);
    moment(at(0), 0.0F);
    moment(at(1), 1.0F);
    killedHalfWay(2);
    const std::string torn = fileText(logPath);

    // Rotated while the program was down: a new, shorter file takes the name.
    std::filesystem::rename(logPath, logPath + ".1");
    { std::ofstream(logPath, std::ios::binary) << "rotated\r\n"; }
    restart();
    moment(at(3), 3.0F);
    std::string now = fileText(logPath);
    ASSERT_EQ(now.substr(0, 9), "rotated\r\n");
    expectMinutes(now.substr(9), {2, 3});
    EXPECT_EQ(fileText(logPath + ".1"), torn) << "the rotated file is left as it is";

    // Again, with a new file longer than the noted size: its lines stay whole.
    killedHalfWay(4);
    std::filesystem::rename(logPath, logPath + ".2");
    const std::string longer(now.size() + 300, 'x');
    { std::ofstream(logPath, std::ios::binary) << longer; }
    restart();
    moment(at(5), 5.0F);
    now = fileText(logPath);
    ASSERT_EQ(now.substr(0, longer.size()), longer);
    expectMinutes(now.substr(longer.size()), {4, 5});
}

// Runs SQL on a spool file with SQLite itself.
void onSpoolFile(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    const std::string text = error == nullptr ? "" : error;
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << text;
}

std::int64_t countIn(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::int64_t n = -1;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW)
        n = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return n;
}

TEST_F(DurableFileLog, ADamagedSpoolIsMovedAsideAndWhatCanBeReadIsTakenOver) {
    enableFileLogging(dir + "/away/plant.csv");
    moment(at(0), 0.0F);  // two lines wait
    // Three hundred rows wait for the database, on pages after the file's.
    for (int n = 0; n < 150; ++n) {
        station().logging().queueForDatabase(branchRecord(1, at(1), static_cast<float>(n)));
        station().logging().queueForDatabase(branchRecord(5, at(1), static_cast<float>(n)));
    }
    keepWaitingRecords(station().logging());
    freshStation();  // a clean stop: everything is in the spool file itself
    const std::string spool = state + kSpoolFileName;
    ASSERT_FALSE(std::filesystem::exists(spool + "-wal"));
    // The last page is overwritten.
    const auto size = std::filesystem::file_size(spool);
    {
        std::fstream file(spool, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(size - 4096));
        file << std::string(4096, '\x5a');
    }

    restart();
    enableFileLogging(dir + "/away/plant.csv");
    moment(at(2), 2.0F);
    const auto aside = filesNamed(std::string(kSpoolFileName) + ".damaged-");
    ASSERT_EQ(aside.size(), 1U) << "moved aside, not deleted";
    EXPECT_EQ(std::filesystem::file_size(state + aside[0]), size);
    ASSERT_EQ(op.messages.size(), 1U);
    EXPECT_EQ(op.messages[0].caption, kSpoolNoticeCaption);
    EXPECT_NE(op.messages[0].text.find("The spool file \"Quorna-spool.db\" was damaged\nIt was moved aside as \"" + aside[0] +
                                       "\" and a new spool started with the "), std::string::npos) << op.messages[0].text;
    const Spool& fresh = station().logging().spool();
    ASSERT_TRUE(fresh.isOpen());
    EXPECT_EQ(fresh.count(Sink::File), 4U) << "the file's records were taken over";
    EXPECT_GT(fresh.count(Sink::Database), 0U);
    EXPECT_LT(fresh.count(Sink::Database), 300U) << "the damaged page's rows are gone";

    // The folder comes: the taken-over lines are written, once, and nothing more is said.
    enableFileLogging(logPath);
    moment(at(3), 3.0F);
    expectMinutes(fileText(logPath), {0, 2, 3});
    EXPECT_EQ(op.messages.size(), 1U);

    // A spool overwritten whole: moved aside as well, and a fresh one works.
    freshStation();
    { std::ofstream(spool, std::ios::binary | std::ios::trunc) << std::string(10000, 'Q'); }
    restart();
    moment(at(4), 4.0F);
    EXPECT_EQ(filesNamed(std::string(kSpoolFileName) + ".damaged-").size(), 2U);
    EXPECT_EQ(op.messages.size(), 2U);
    expectMinutes(fileText(logPath), {0, 2, 3, 4});
}

TEST_F(DurableFileLog, RowsThatCannotBeReadingsAndANoteOnAnotherFileAreSetAside) {
    // A spool as the previous version wrote it (its note without device and inode): one good
    // line waits, three rows cannot be readings, and a note names a file that is not the log file.
    const std::string spool = state + kSpoolFileName;
    const std::string other = dir + "/other.csv";
    const std::string otherText(500, 'o');
    { std::ofstream(other, std::ios::binary) << otherText; }
    std::string good;
    for (int i = 0; i < 42; ++i) good += "0000803F";  // 1.0F, little-endian
    onSpoolFile(spool,
                "PRAGMA journal_mode=WAL;"
                "CREATE TABLE file_records(id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL,"
                " model INTEGER NOT NULL, address INTEGER NOT NULL, readings BLOB, attempts INTEGER NOT NULL DEFAULT 0);"
                "CREATE TABLE database_records(id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL,"
                " model INTEGER NOT NULL, address INTEGER NOT NULL, readings BLOB, attempts INTEGER NOT NULL DEFAULT 0);"
                "CREATE TABLE pending_append(only INTEGER PRIMARY KEY CHECK (only = 1), path TEXT NOT NULL,"
                " size INTEGER NOT NULL, last_id INTEGER NOT NULL);"
                "INSERT INTO file_records (time, model, address, readings) VALUES (" + std::to_string(at(0)) + ", 230, 1, x'" + good + "');"
                "INSERT INTO file_records (time, model, address, readings) VALUES (" + std::to_string(at(0)) + ", 230, 5, x'0000803F');"
                "INSERT INTO file_records (time, model, address, readings) VALUES (5, 230, 5, x'" + good + "');"
                "INSERT INTO database_records (time, model, address, readings) VALUES (" + std::to_string(at(0)) + ", 230, 248, x'" + good + "');"
                "INSERT INTO pending_append VALUES (1, '" + other + "', 100, 3);");

    enableFileLogging(logPath);
    moment(at(1), 1.0F);
    const auto lines = linesOf(fileText(logPath));
    ASSERT_EQ(lines.size(), 3U) << fileText(logPath);
    EXPECT_EQ(lines[0].substr(11, 22), "10:00:00,1,1.000,1.000");
    EXPECT_EQ(lines[1].substr(11, 8), "10:01:00");
    EXPECT_EQ(fileText(other), otherText) << "no other file is cut";

    const auto aside = filesNamed(std::string(kSpoolFileName) + ".set-aside-");
    ASSERT_EQ(aside.size(), 2U);  // the rows at the opening, the note at the first append
    std::int64_t rows = 0;
    std::int64_t notes = 0;
    for (const auto& name : aside) {
        rows += std::max<std::int64_t>(0, countIn(state + name, "SELECT count(*) FROM file_records")) +
                std::max<std::int64_t>(0, countIn(state + name, "SELECT count(*) FROM database_records"));
        notes += std::max<std::int64_t>(0, countIn(state + name, "SELECT count(*) FROM pending_append"));
    }
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(notes, 1);
    ASSERT_EQ(op.messages.size(), 2U);
    EXPECT_EQ(op.messages[0].text, "3 records of the spool file \"Quorna-spool.db\" could not be readings\nThey were set "
                                   "aside in \"" + aside[0] + "\" and will not be logged");
    EXPECT_NE(op.messages[1].text.find("noted an unfinished append to another file (" + other + ")"), std::string::npos);
    EXPECT_EQ(recordsWaiting(station().logging()), 0U);
}

}  // namespace
}  // namespace quorna::test
