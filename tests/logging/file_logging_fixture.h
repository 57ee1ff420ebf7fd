#pragma once
// Shared set-up of the file logging tests: a clean core, a clock the test turns, a private
// directory for the log file, and helpers to read the file back.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "logging/file_log_writer.h"
#include "logging/logging_sampler.h"
#include "logging/readings_record.h"
#include "station_fixture.h"
#include "settings/configuration.h"

namespace quorna::test {

// A local calendar time: year, month 1-12, day, hour, minute, second.
inline std::time_t localTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

class FileLoggingTest : public StationTest {
protected:
    void SetUp() override {
        station().logging().useClock([this] { return clock; });
        char pattern[] = "/tmp/quorna-filelog-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        logPath = dir + "/plant.csv";
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    // File logging on, to logPath, in the given format.
    void enableFileLogging(const std::string& path, int format = kFormatComma) {
        station().settings().logFilePath = path;
        station().settings().fileLoggingEnabled = true;
        station().settings().fileFormat = format;
    }

    std::string fileText(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::time_t clock = localTime(2025, 1, 15, 10, 7, 30);
    std::string dir;
    std::string logPath;
};

// A Branch meter's record as the sampler builds it.
inline RecordPtr branchRecord(int address, std::time_t time, float firstCurrent) {
    auto record = std::make_shared<ReadingsRecord>();
    record->model = 230;
    record->address = address;
    record->time = time;
    record->current.fill(0.0F);
    record->current[0] = firstCurrent;
    return record;
}

// Splits a file's text into its lines, each without its CR LF.
inline std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

}  // namespace quorna::test
