#include "logging/logging_sampler.h"

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "bus/modbus_master.h"
#include "logging/database_record_writer.h"
#include "logging/durable_queue.h"
#include "meters/meter_scan.h"
#include "meters/register_map.h"

namespace quorna {
namespace {

constexpr int kSecondsPerMinute = 60;

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
void readMeter(Bus& bus, ReadingsRecord& record, int model) {
    const ModelReads reads = readsFor(model);
    if (reads.count == 0) return;

    std::array<std::int32_t, kFullDataCount> registers{};
    static_assert(kFullDataCount >= kBranchPollCount && kFullDataCount >= kTemperatureCount &&
                  kFullDataCount >= kEnergyOnlyCount);
    const ModbusError code = readRegisters(bus, record.address, reads.start, reads.count, registers.data());
    if (code != ModbusError::Ok) {
        bus.countBadRead(code);
        return;
    }
    bus.countGoodRead();
    record.model = model;
    if (model == kBranchMeter) {
        for (int i = 0; i < kBreakerCount; ++i) {
            record.current[static_cast<std::size_t>(i)] =
                static_cast<float>(registers[static_cast<std::size_t>(i)]) * static_cast<float>(kBreakerAmpsPerCount);
        }
        return;
    }
    // Temperature, Energy-Only and Full-Data meters: their single-precision values, in register
    // order. Of a Full-Data meter's block only three pairs hold values; the rest means nothing here.
    const auto single = [&registers](int offset) {
        return floatFromRegisters(registers[static_cast<std::size_t>(offset)],
                                  registers[static_cast<std::size_t>(offset + 1)]);
    };
    if (model == kFullDataMeter) {
        for (const int reg : kFullDataValueRegisters) record.values.push_back(single(reg - kFullDataStart));
        return;
    }
    for (int i = 0; i + 1 < reads.count; i += 2) record.values.push_back(single(i));
}

// One record per listed meter, queued for each sink that logs (a queue given). Allocation failure ends the list.
void readListedMeters(Meters& meters, std::time_t sampleTime, RecordQueue* fileQueue, RecordQueue* databaseQueue) {
    // A copy: the list belongs to the main window and must not change under the loop.
    const std::vector<MeterEntry> entries = meters.list().entries();
    for (const MeterEntry& entry : entries) {
        const int address = entry.address;
        // Every address the scan may list, as the operator can select it.
        if (address < kFirstSelectableAddress || address > kLastSelectableAddress) continue;
        const int model = entry.model;

        std::shared_ptr<ReadingsRecord> record;
        try {
            record = std::make_shared<ReadingsRecord>();
        } catch (const std::bad_alloc&) {
            break;
        }
        record->address = address;
        record->time = sampleTime;
        readMeter(meters.bus(), *record, model);

        // A record that no queue takes is freed here, when the last pointer goes.
        if (fileQueue != nullptr) fileQueue->push(record);
        if (databaseQueue != nullptr) databaseQueue->push(record);
    }
}

}  // namespace

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

void computeNextLoggingMoment(Logging& logging) {
    logging.m_clock.nextMoment = nextLoggingMoment(logging.m_clock.sampleTime, logging.m_settings.loggingInterval);
}

void LoggingSampler(Logging& logging, ConnectWait wait) {
    LoggingClock& clock = logging.m_clock;
    clock.sampleTime = logging.now();
    if (clock.nextMoment != 0 && clock.sampleTime < clock.nextMoment) return;
    computeNextLoggingMoment(logging);
    logging.startMoment();

    const ConfigurationRecord& cfg = logging.m_settings;
    const bool toFile = cfg.fileLoggingEnabled;
    const bool toDatabase = cfg.databaseLogging == DatabaseLoggingState::Active;
    // A meter the start-up scan could not make out is asked again before the meters are read.
    logging.m_meters.reprobeGarbledAddresses();
    readListedMeters(logging.m_meters, clock.sampleTime, toFile ? &logging.m_fileQueue : nullptr,
                     toDatabase ? &logging.m_databaseQueue : nullptr);
    // The moment's records are on disk before anything is written.
    keepWaitingRecords(logging, wait);

    // The file first, then the database, in one time budget: what does not fit is sent in slices
    // between the ticks.
    // (The caller's tick may have begun the budget already, with its poll.)
    const bool ownSlice = logging.m_sliceStart == std::chrono::steady_clock::time_point{};
    if (ownSlice) logging.startSlice();
    if (cfg.fileLoggingEnabled) FileLogWriter(logging);
    if (cfg.databaseLogging == DatabaseLoggingState::Active) DatabaseRecordWriter(logging, wait);
    if (ownSlice) logging.endSlice();
}

}  // namespace quorna
