// The logging moments: aligned within the hour for every interval, the first tick a moment,
// ticks between moments doing nothing, and a moment inside a busy cycle taken without re-entering its writer.

#include <gtest/gtest.h>

#include "file_logging_fixture.h"
#include "meters/meter_list.h"

namespace quorna::test {
namespace {

TEST(LoggingMoments, FifteenMinutesAfterHalfPastSevenIsQuarterPast) {
    EXPECT_EQ(nextLoggingMoment(localTime(2025, 1, 15, 10, 7, 30), 15), localTime(2025, 1, 15, 10, 15, 0));
    EXPECT_EQ(nextLoggingMoment(localTime(2025, 1, 15, 10, 15, 0), 15), localTime(2025, 1, 15, 10, 30, 0));
    EXPECT_EQ(nextLoggingMoment(localTime(2025, 1, 15, 10, 14, 59), 15), localTime(2025, 1, 15, 10, 15, 0));
}

TEST(LoggingMoments, MomentsCrossHourAndDayBoundaries) {
    EXPECT_EQ(nextLoggingMoment(localTime(2025, 1, 15, 10, 52, 10), 15), localTime(2025, 1, 15, 11, 0, 0));
    EXPECT_EQ(nextLoggingMoment(localTime(2025, 1, 15, 10, 59, 59), 1), localTime(2025, 1, 15, 11, 0, 0));
    EXPECT_EQ(nextLoggingMoment(localTime(2025, 1, 15, 10, 7, 30), 60), localTime(2025, 1, 15, 11, 0, 0));
    EXPECT_EQ(nextLoggingMoment(localTime(2025, 1, 15, 23, 45, 0), 30), localTime(2025, 1, 16, 0, 0, 0));
    EXPECT_EQ(nextLoggingMoment(localTime(2025, 12, 31, 23, 58, 0), 5), localTime(2026, 1, 1, 0, 0, 0));
}

TEST(LoggingMoments, EveryIntervalFallsOnTheSameMinutesOfEveryHour) {
    for (const int interval : IntervalChoices) {
        SCOPED_TRACE(interval);
        std::time_t sample = localTime(2025, 1, 15, 10, 7, 30);
        std::time_t moment = nextLoggingMoment(sample, interval);
        EXPECT_GT(moment, sample);
        EXPECT_LE(moment, sample + interval * 60);
        // Sampling at each moment, the following ones step by exactly one interval, for two hours.
        for (int i = 0; i < 120 / interval; ++i) {
            std::tm local{};
            localtime_r(&moment, &local);
            EXPECT_EQ(local.tm_sec, 0);
            EXPECT_EQ(local.tm_min % interval, 0);
            const std::time_t next = nextLoggingMoment(moment, interval);
            EXPECT_EQ(next - moment, interval * 60);
            moment = next;
        }
    }
}

TEST(LoggingMoments, AnIntervalBelowOneMinuteCountsAsOneMinute) {
    const std::time_t sample = localTime(2025, 1, 15, 10, 7, 30);
    EXPECT_EQ(nextLoggingMoment(sample, 0), localTime(2025, 1, 15, 10, 8, 0));
    EXPECT_EQ(nextLoggingMoment(sample, -5), localTime(2025, 1, 15, 10, 8, 0));
}

TEST(LoggingMoments, AHandEditedSevenMinuteIntervalStillAdvances) {
    // 10:07:30 + 7 min = 10:14:30, rounded down to a multiple of 7 minutes: 10:14:00.
    EXPECT_EQ(nextLoggingMoment(localTime(2025, 1, 15, 10, 7, 30), 7), localTime(2025, 1, 15, 10, 14, 0));
    // 10:56 + 7 = 11:03, down to 11:00: the next hour starts again at minute 0.
    EXPECT_EQ(nextLoggingMoment(localTime(2025, 1, 15, 10, 56, 0), 7), localTime(2025, 1, 15, 11, 0, 0));
}

TEST_F(FileLoggingTest, TheFirstTickWithLoggingOnIsAMomentAndTheNextTicksWaitForTheNextOne) {
    station().settings().loggingInterval = 15;
    enableFileLogging(logPath);
    clock = localTime(2025, 1, 15, 10, 14, 59);

    LoggingSampler(station().logging());
    EXPECT_EQ(station().logging().sampleTime(), clock);
    EXPECT_EQ(station().logging().nextMoment(), localTime(2025, 1, 15, 10, 15, 0));

    // A second later it is the next moment; the one after is 10:30.
    clock += 1;
    LoggingSampler(station().logging());
    EXPECT_EQ(station().logging().nextMoment(), localTime(2025, 1, 15, 10, 30, 0));

    // Ticks before 10:30 read the time but change nothing else.
    clock = localTime(2025, 1, 15, 10, 29, 59);
    LoggingSampler(station().logging());
    EXPECT_EQ(station().logging().sampleTime(), clock);
    EXPECT_EQ(station().logging().nextMoment(), localTime(2025, 1, 15, 10, 30, 0));
}

TEST_F(FileLoggingTest, TheCommsDialogsRecomputationUsesTheLatestSampleAndTheNewInterval) {
    station().settings().loggingInterval = 5;
    enableFileLogging(logPath);
    clock = localTime(2025, 1, 15, 10, 7, 30);
    LoggingSampler(station().logging());
    EXPECT_EQ(station().logging().nextMoment(), localTime(2025, 1, 15, 10, 10, 0));

    station().settings().loggingInterval = 60;
    computeNextLoggingMoment(station().logging());
    EXPECT_EQ(station().logging().nextMoment(), localTime(2025, 1, 15, 11, 0, 0));
}

}  // namespace
}  // namespace quorna::test
