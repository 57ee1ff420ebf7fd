#pragma once
// Live polling in the logger: between logging moments every listed Branch and Circuit meter is
// polled in turn, one per step, with the window's poll (registers 0 to 48 or 0 to 36) and its
// lamp rules, so that the logger always holds each meter's latest readout, its lamps and the time
// of its last good read. A meter that does not answer is down, its readout unknown, until it
// answers again. Each meter is polled at most once a second. The poller also builds the
// snapshots the HTTP endpoint serves.

#include <chrono>
#include <ctime>
#include <memory>
#include <vector>

#include "logger/alarm_events.h"
#include "logger/live_snapshot.h"
#include "station/station.h"

namespace quorna {

class LivePoller {
public:
    // polling: poll the meters (live on); without it only the snapshots are built.
    LivePoller(StderrOperator& op, const std::string& eventsPath, bool polling)
        : m_op(op), m_events(op, eventsPath), m_polling(polling) {}

    [[nodiscard]] bool polling() const { return m_polling; }

    // Polls the next meter that is due, when the port is open and no scan runs; true when it
    // polled one. *waitMs: how long until one is due when none is (at most 1000).
    bool pollNext(Station& station, int* waitMs);

    // After each tick: the meter list as the scan left it, the logging moments and the spool.
    void afterTick(Station& station);

    // The snapshot of now.
    [[nodiscard]] std::shared_ptr<const LiveSnapshot> snapshot(const Station& station) const;

private:
    struct Entry {
        LiveMeter meter;
        MeterLamps lastLamps;  // of the last good poll; all green before the first
        std::chrono::steady_clock::time_point lastAttempt{};
    };
    void followList(Station& station);

    StderrOperator& m_op;
    AlarmEvents m_events;
    bool m_polling;
    std::vector<Entry> m_entries;
    std::vector<MeterEntry> m_listed;  // the meter list the entries were made from
    std::size_t m_next = 0;
    std::time_t m_lastNextMoment = 0;
    std::uint64_t m_moments = 0;
    std::uint64_t m_spoolFile = 0;
    std::uint64_t m_spoolDatabase = 0;
};

}  // namespace quorna
