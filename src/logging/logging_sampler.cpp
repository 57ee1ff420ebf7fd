#include "logging/logging_sampler.h"

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "bus/modbus_master.h"
#include "bus/serial_link.h"
#include "logging/database_record_writer.h"
#include "logging/file_log_writer.h"
#include "logging/readings_record.h"
#include "meters/meter_list.h"
#include "meters/meter_model.h"
#include "meters/meter_state.h"
#include "meters/register_map.h"
#include "settings/configuration.h"

namespace quorna {
namespace {

constexpr int kSecondsPerMinute = 60;
// The logging cycle reads meters listed at addresses 1 to 63 only.
constexpr int kFirstLoggedAddress = 1;
constexpr int kLastLoggedAddress = 63;
// A Branch meter's register i holds breaker i + 1's current in milliamperes.
constexpr float kBranchCurrentFactor = 0.001F;

LoggingClock g_clock;
TimeSource g_timeSource;
bool g_cycleRunning = false;

std::time_t now() { return g_timeSource ? g_timeSource() : std::time(nullptr); }

// Marks a logging cycle as running for the life of the object.
class CycleGuard {
public:
    CycleGuard() { g_cycleRunning = true; }
    ~CycleGuard() { g_cycleRunning = false; }
    CycleGuard(const CycleGuard&) = delete;
    CycleGuard& operator=(const CycleGuard&) = delete;
};

// Where a model's logged values lie: start register, register count. Count 0: the model is not read.
struct ModelReads {
    int start = 0;
    int count = 0;
};

ModelReads readsFor(int model) {
    switch (model) {
        case kBranchMeter: return {0, kBranchPollCount};
        case kTemperatureMeter: return {kTemperatureStart, kTemperatureCount};
        case kEnergyOnlyMeter: return {kEnergyOnlyStart, kEnergyOnlyCount};
        case kFullDataMeter: return {kFullDataStart, kFullDataCount};
        default: return {};
    }
}

// Reads one meter into the record. The record keeps model 0 unless the read succeeded.
void readMeter(ReadingsRecord& record, int model) {
    const ModelReads reads = readsFor(model);
    if (reads.count == 0) return;

    std::array<std::int32_t, kFullDataCount> registers{};
    static_assert(kFullDataCount >= kBranchPollCount && kFullDataCount >= kTemperatureCount &&
                  kFullDataCount >= kEnergyOnlyCount);
    const ModbusError code = readRegisters(serialLink(), record.address, reads.start, reads.count, registers.data());
    BusStatistics& statistics = busStatistics();
    if (code != ModbusError::Ok) {
        ++statistics.badReads;
        statistics.lastError = code;
        return;
    }
    ++statistics.goodReads;
    record.model = model;
    if (model == kBranchMeter) {
        for (int i = 0; i < kBreakerCount; ++i) {
            record.current[static_cast<std::size_t>(i)] =
                static_cast<float>(registers[static_cast<std::size_t>(i)]) * kBranchCurrentFactor;
        }
        return;
    }
    // Temperature, Energy-Only and Full-Data meters: their single-precision values, in register order.
    for (int i = 0; i + 1 < reads.count; i += 2) {
        record.values.push_back(floatFromRegisters(registers[static_cast<std::size_t>(i)],
                                                   registers[static_cast<std::size_t>(i + 1)]));
    }
}

// One record per listed meter, queued for each sink that logs. Allocation failure ends the list.
void readListedMeters(bool toFile, bool toDatabase) {
    // A copy: the list belongs to the main window and must not change under the loop.
    const std::vector<std::string> entries = meterList().entries;
    for (const std::string& entry : entries) {
        const int address = leadingAddress(entry);
        if (address < kFirstLoggedAddress || address > kLastLoggedAddress) continue;
        const int model = modelFromDeviceText(entry);

        std::shared_ptr<ReadingsRecord> record;
        try {
            record = std::make_shared<ReadingsRecord>();
        } catch (const std::bad_alloc&) {
            break;
        }
        record->address = address;
        record->time = g_clock.sampleTime;
        readMeter(*record, model);

        // A record that no queue takes is freed here, when the last pointer goes.
        if (toFile) fileQueue().push(record);
        if (toDatabase) databaseQueue().push(record);
    }
}

}  // namespace

LoggingClock& loggingClock() { return g_clock; }

void setLoggingTimeSource(TimeSource source) { g_timeSource = std::move(source); }

bool loggingCycleRunning() { return g_cycleRunning; }

void resetLoggingSampler() {
    g_clock = LoggingClock{};
    g_timeSource = nullptr;
    g_cycleRunning = false;
}

std::time_t nextLoggingMoment(std::time_t sampleTime, int intervalMinutes) {
    // A hand-edited interval below one minute would divide by zero: the nearest choice, 1 minute, is used.
    const int interval =
        intervalMinutes >= 1 ? intervalMinutes : IntervalChoices[static_cast<std::size_t>(nearestInterval(intervalMinutes))];
    const std::time_t t = sampleTime + static_cast<std::time_t>(interval) * kSecondsPerMinute;
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) return t;
    local.tm_sec = 0;
    local.tm_min = interval * (local.tm_min / interval);
    return std::mktime(&local);
}

void computeNextLoggingMoment() {
    g_clock.nextMoment = nextLoggingMoment(g_clock.sampleTime, configuration().loggingInterval);
}

void LoggingSampler() {
    if (g_cycleRunning) return;
    CycleGuard guard;

    g_clock.sampleTime = now();
    if (g_clock.nextMoment != 0 && g_clock.sampleTime < g_clock.nextMoment) return;
    computeNextLoggingMoment();

    const ConfigurationRecord& cfg = configuration();
    const bool toFile = cfg.fileLoggingEnabled;
    const bool toDatabase = cfg.databaseLogging == DatabaseLoggingState::Active;
    readListedMeters(toFile, toDatabase);

    // The file first, then the database.
    if (configuration().fileLoggingEnabled) FileLogWriter();
    if (configuration().databaseLogging == DatabaseLoggingState::Active) DatabaseRecordWriter();
}

}  // namespace quorna
