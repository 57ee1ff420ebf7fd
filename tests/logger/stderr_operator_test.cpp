// The logger's operator: one line per message with time and level, and a message that comes back
// at every logging moment written when it starts and when it ends, with the count.

#include <gtest/gtest.h>

#include <sstream>

#include "logger/stderr_operator.h"

namespace quorna {
namespace {

TEST(StderrOperator, LinesLevelsAndRepeatsFolded) {
    std::ostringstream out;
    std::time_t now = 0;
    StderrOperator op(out, [&now] { return now; });
    now = 1015506900;  // 2002-03-07T13:15:00Z
    const std::string stamp = isoLocalTime(now);
    ASSERT_EQ(stamp.size(), 25U) << stamp;
    EXPECT_EQ(stamp[10], 'T');
    EXPECT_EQ(stamp[22], ':');

    op.error("Unable to open COM2:", "Comm Port Open Failure");
    op.endRound();
    // The database is away for three moments; a meter answers wrongly at two addresses of one scan.
    for (int moment = 0; moment < 3; ++moment) {
        op.error("Error connecting");
        op.endRound();
    }
    op.error("Address [4] Returned Error Code [2].", "Com port failure");
    op.error("Address [4] Returned Error Code [2].", "Com port failure");
    op.error("Error # -1  no such table:\nreadings");
    op.endRound();
    op.write(MessageLevel::Info, "stopping");
    op.error("Error # -1  no such table:\nreadings");
    op.endRound();
    op.finish();

    EXPECT_EQ(out.str(), stamp + " error Comm Port Open Failure: Unable to open COM2:\n" +
                         stamp + " error Error connecting\n" +
                         stamp + " error Com port failure: Address [4] Returned Error Code [2].\n" +
                         stamp + " error Com port failure: Address [4] Returned Error Code [2].\n" +
                         stamp + " error Error # -1  no such table: readings\n" +
                         stamp + " info ended after 3 moments: Error connecting\n" +
                         stamp + " info stopping\n" +
                         stamp + " info still repeating after 2 moments: Error # -1  no such table: readings\n");
    EXPECT_EQ(op.errors(), 5);
    op.warning("The database refused a reading three times");
    op.info("Current settings saved");
    const std::string tail =
        stamp + " warning The database refused a reading three times\n" + stamp + " info Current settings saved\n";
    ASSERT_GE(out.str().size(), tail.size());
    EXPECT_EQ(out.str().substr(out.str().size() - tail.size()), tail) << "each line carries the severity its source gave";
}

TEST(StderrOperator, ForTheJournalPrioritiesAndNoTimeStamp) {
    std::ostringstream out;
    StderrOperator op(out, [] { return std::time_t{1015506900}; }, LineStyle::Journal);
    op.error("Unable to open COM2:", "Comm Port Open Failure");
    op.endRound();
    for (int moment = 0; moment < 2; ++moment) {
        op.repeated(MessageLevel::Warning, "the bus scan found no meter");
        op.endRound();
    }
    op.endRound();
    op.write(MessageLevel::Info, "stopping");
    op.finish();
    EXPECT_EQ(out.str(), "<3>error Comm Port Open Failure: Unable to open COM2:\n"
                         "<4>warning the bus scan found no meter\n"
                         "<6>info ended after 2 moments: the bus scan found no meter\n"
                         "<6>info stopping\n");
    EXPECT_EQ(op.errors(), 1);
}

}  // namespace
}  // namespace quorna
