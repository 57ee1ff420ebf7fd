#pragma once
// What the logger knows of its bus at one instant, for the HTTP threads: every listed meter's
// latest readout and lamps, whether it answers, and the logger's counters. The logger's loop
// builds a new one after each tick and each live poll and publishes it whole; a published
// snapshot never changes, so the HTTP threads read it without any lock.

#include <array>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "meters/polling_cycle.h"

namespace quorna {

struct LiveMeter {
    int address = 0;
    int model = 0;
    std::string name;        // the panel name the meter holds (registers 273-274 or 38-39)
    bool up = false;         // the last poll was answered
    bool polled = false;     // polled at least once since it was listed
    std::time_t lastRead = 0;  // wall time of the last good poll, 0 for never
    MeterReadout readout;    // of the last good poll; meaningful only while up
};

// The lamp colours as levels: 0 normal (green), 1 warning (yellow), 2 alarm (red), -1 unknown.
[[nodiscard]] int lampLevel(Lamp lamp);
[[nodiscard]] const char* levelName(Lamp lamp);  // "normal", "warning", "alarm", "unknown"

struct LiveSnapshot {
    std::string location;    // the settings' location name
    bool live = false;       // the meters are polled between logging moments
    std::vector<LiveMeter> meters;
    std::array<std::uint64_t, 11> transactions{};  // by result code
    std::uint64_t spoolFile = 0;
    std::uint64_t spoolDatabase = 0;
    std::uint64_t loggingMoments = 0;
    std::map<std::pair<int, std::string>, std::uint64_t> alarmEvents;  // (meter, level) -> count
};

// The Prometheus text exposition format (version 0.0.4).
[[nodiscard]] std::string metricsText(const LiveSnapshot& snapshot);
// GET /api/v1/meters.
[[nodiscard]] std::string metersJson(const LiveSnapshot& snapshot);
// GET /: the live panel page; it reads /api/v1/meters every second.
[[nodiscard]] const char* livePageHtml();

// The latest snapshot, swapped whole under a mutex.
class SnapshotBoard {
public:
    void publish(std::shared_ptr<const LiveSnapshot> snapshot) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_snapshot = std::move(snapshot);
    }
    [[nodiscard]] std::shared_ptr<const LiveSnapshot> latest() const {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_snapshot;
    }

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<const LiveSnapshot> m_snapshot = std::make_shared<const LiveSnapshot>();
};

}  // namespace quorna
