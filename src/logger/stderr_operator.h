#pragma once
// The operator of the logger, which runs with nobody watching: every notice becomes one line at
// the severity its source gave it, on a stream (standard error), "<local time> <level> <text>", and nothing ever waits. A message
// that comes back at every logging moment (a database that stays unreachable) is written when it
// starts and once more when it ends, with the number of moments it lasted. When standard error is
// the journal, a line is "<priority><level> <text>" instead: the syslog priority that journalctl -p
// filters on, and no time stamp, the journal keeping its own.

#include <ctime>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>

#include "core/operator.h"

namespace quorna {

// A line's level is the severity of the notice it tells.
using MessageLevel = Severity;

[[nodiscard]] const char* levelName(MessageLevel level);

// "2026-03-07T14:15:00+01:00": the local time with its offset from UTC.
[[nodiscard]] std::string isoLocalTime(std::time_t time);

// How a line is written: with the local time, or as the journal reads it.
enum class LineStyle { Timed, Journal };

// The syslog priority of a level: 3 (err), 4 (warning), 6 (info).
[[nodiscard]] int syslogPriority(MessageLevel level);

// Journal when standard error is the journal's stream: the environment variable JOURNAL_STREAM
// ("DEVICE:INODE", set by systemd) names the file that descriptor 2 is. A program started from
// the service with its standard error sent elsewhere inherits the variable and keeps time stamps.
[[nodiscard]] LineStyle lineStyleOfStandardError();

class StderrOperator final : public Operator {
public:
    // Lines go to out in the given style; `clock` gives the time they carry (the system clock when empty).
    explicit StderrOperator(std::ostream& out, std::function<std::time_t()> clock = {}, LineStyle style = LineStyle::Timed);
    StderrOperator(const StderrOperator&) = delete;
    StderrOperator& operator=(const StderrOperator&) = delete;

    // Notices become lines at their severity, "caption: text", folded across rounds as described above.
    void notify(const Notice& notice) override;
    // The logger's own lines; never folded.
    void write(MessageLevel level, const std::string& text);
    // The logger's own lines that come back at every moment: folded as notices are.
    void repeated(MessageLevel level, const std::string& text);

    // Ends one round of work (a tick that took a logging moment or scanned the bus). Messages shown
    // in the round before and not in this one are written as ended.
    void endRound();
    // Writes every message still repeating as ended; the logger calls it when it stops.
    void finish();

    // How many lines have been written at the error level.
    [[nodiscard]] int errors() const { return m_errors; }

private:
    void line(MessageLevel level, const std::string& text);
    void writeEnded(const std::string& key, int rounds);

    std::ostream& m_out;
    std::function<std::time_t()> m_clock;
    LineStyle m_style;
    std::map<std::string, int> m_repeating;  // message shown in consecutive rounds -> their number
    std::set<std::string> m_thisRound;       // messages shown in the round under way
    int m_errors = 0;
};

}  // namespace quorna
