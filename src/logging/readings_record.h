#pragma once
// One meter's readings at one logging moment, shared by the file queue and the database queue.
// A record lives as long as a queue holds it: the last queue to release it frees it.

#include <array>
#include <ctime>
#include <deque>
#include <memory>
#include <vector>

namespace quorna {

struct ReadingsRecord {
    int model = 0;          // 230, 600, 8035 or 8036; 0 when the record carries no readings
    int address = 0;        // Modbus address from the meter-list entry, 1 to 247
    std::time_t time = 0;   // the sample time of the logging moment
    std::array<float, 42> current{};  // breaker currents in amperes (model 230)
    // The single-precision values of a Temperature, Energy-Only or Full-Data meter, in register
    // order: 1 for 600 (256-257), 2 for 8035 (258-259, 260-261), 3 for 8036 (258-259, 306-307,
    // 308-309).
    std::vector<float> values;
};

using RecordPtr = std::shared_ptr<const ReadingsRecord>;

// A first-in first-out queue of records.
class RecordQueue {
public:
    void push(RecordPtr record) { m_records.push_back(std::move(record)); }
    [[nodiscard]] const RecordPtr& front() const { return m_records.front(); }
    void pop() { m_records.pop_front(); }
    void clear() { m_records.clear(); }
    [[nodiscard]] bool empty() const { return m_records.empty(); }
    [[nodiscard]] std::size_t size() const { return m_records.size(); }
    [[nodiscard]] const std::deque<RecordPtr>& records() const { return m_records; }

private:
    std::deque<RecordPtr> m_records;
};

}  // namespace quorna
