#pragma once
// The lamp colour changes of the live polls: each one is a warning line on standard error, a count
// by meter and level, and a line appended to "Quorna-events.txt" beside the settings file and
// synchronised to the disk before the next poll.

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <utility>

#include "logger/stderr_operator.h"
#include "meters/polling_cycle.h"

namespace quorna {

inline constexpr const char* kEventsFileName = "Quorna-events.txt";

class AlarmEvents {
public:
    AlarmEvents(StderrOperator& op, std::string path) : m_op(op), m_path(std::move(path)) {}

    // Compares a meter's lamps of a good poll with those of its last good poll (all green before
    // the first) and tells every change.
    void compare(int address, const std::string& name, const MeterLamps& before, const MeterReadout& now,
                 std::time_t when);

    [[nodiscard]] const std::map<std::pair<int, std::string>, std::uint64_t>& counts() const { return m_counts; }

private:
    void tell(int address, const std::string& name, const std::string& what, Lamp before, Lamp after,
              const std::string& value, std::time_t when);
    void append(const std::string& line);

    StderrOperator& m_op;
    std::string m_path;
    bool m_fileTroubleSaid = false;
    std::map<std::pair<int, std::string>, std::uint64_t> m_counts;
};

}  // namespace quorna
