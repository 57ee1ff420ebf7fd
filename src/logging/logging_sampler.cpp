#include "logging/logging_sampler.h"

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
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

// Fills the record of a meter whose read of its model's registers succeeded.
void fillRecord(ReadingsRecord& record, int model, const std::int32_t* registers) {
    const ModelReads reads = readsFor(model);
    record.model = model;
    if (model == kBranchMeter) {
        for (int i = 0; i < kBreakerCount; ++i) {
            record.current[static_cast<std::size_t>(i)] =
                static_cast<float>(registers[i]) * static_cast<float>(kBreakerAmpsPerCount);
        }
        return;
    }
    // Temperature, Energy-Only and Full-Data meters: their single-precision values, in register
    // order. Of a Full-Data meter's block only three pairs hold values; the rest means nothing here.
    const auto single = [registers](int offset) { return floatFromRegisters(registers[offset], registers[offset + 1]); };
    if (model == kFullDataMeter) {
        for (const int reg : kFullDataValueRegisters) record.values.push_back(single(reg - kFullDataStart));
        return;
    }
    for (int i = 0; i + 1 < reads.count; i += 2) record.values.push_back(single(i));
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

bool beginLoggingMoment(Logging& logging, ConnectWait wait) {
    if (logging.m_moment.underWay) return true;
    LoggingClock& clock = logging.m_clock;
    clock.sampleTime = logging.now();
    if (clock.nextMoment != 0 && clock.sampleTime < clock.nextMoment) return false;
    computeNextLoggingMoment(logging);
    logging.startMoment();

    const ConfigurationRecord& cfg = logging.m_settings;
    Logging::MomentReads& moment = logging.m_moment;
    moment = {};
    moment.underWay = true;
    moment.wait = wait;
    moment.toFile = cfg.fileLoggingEnabled;
    moment.toDatabase = cfg.databaseLogging == DatabaseLoggingState::Active;
    // A meter the start-up scan could not make out is asked again before the meters are read.
    moment.reprobing = logging.m_meters.beginReprobe();
    // A copy: the list belongs to the main window and may change while the meters are read.
    if (!moment.reprobing) moment.entries = logging.m_meters.list().entries();
    return true;
}

bool loggingMomentStep(Logging& logging, std::chrono::milliseconds slice) {
    Logging::MomentReads& moment = logging.m_moment;
    if (!moment.underWay) return false;
    Bus& bus = logging.m_meters.bus();
    if (moment.reprobing) {
        if (logging.m_meters.reprobeStep(slice)) return true;
        moment.reprobing = false;
        moment.entries = logging.m_meters.list().entries();
        if (!moment.entries.empty()) return true;
    }
    while (moment.next < moment.entries.size()) {
        const MeterEntry& entry = moment.entries[moment.next];
        // Every address the scan may list, as the operator can select it.
        if (entry.address < kFirstSelectableAddress || entry.address > kLastSelectableAddress) {
            ++moment.next;
            continue;
        }
        const ModelReads reads = readsFor(entry.model);
        std::optional<ModbusError> answer;
        if (reads.count > 0 && !moment.awaiting) {
            static_assert(kFullDataCount <= std::tuple_size_v<decltype(moment.registers)> &&
                          kBranchPollCount <= kFullDataCount && kTemperatureCount <= kFullDataCount &&
                          kEnergyOnlyCount <= kFullDataCount);
            moment.count = reads.count;
            const ModbusError begun = beginReadRegisters(bus, entry.address, reads.start, reads.count);
            if (begun == ModbusError::Ok) {
                moment.awaiting = true;
            } else {
                answer = begun;
            }
        }
        if (moment.awaiting) {
            answer = awaitReadRegisters(bus, slice, moment.count, moment.registers.data());
            if (!answer) return true;
            moment.awaiting = false;
        }
        std::shared_ptr<ReadingsRecord> record;
        try {
            record = std::make_shared<ReadingsRecord>();
        } catch (const std::bad_alloc&) {
            moment.entries.clear();  // allocation failure ends the list
            break;
        }
        record->address = entry.address;
        record->time = logging.m_clock.sampleTime;
        // The record keeps model 0 unless the read succeeded; a model not read keeps it too.
        if (answer) {
            if (*answer == ModbusError::Ok) {
                bus.countGoodRead();
                fillRecord(*record, entry.model, moment.registers.data());
            } else {
                bus.countBadRead(*answer);
            }
        }
        moment.records.push_back(std::move(record));
        ++moment.next;
        // Each meter read in a step of its own: the caller runs between them.
        if (answer && moment.next < moment.entries.size()) return true;
    }

    // The moment's records go to each sink that logs, are kept on disk, and are written: the
    // file first, then the database, in one time budget; what does not fit is sent in slices
    // between the ticks. A sink switched off while the meters were read takes none of them.
    const ConfigurationRecord& cfg = logging.m_settings;
    const bool toFile = moment.toFile && cfg.fileLoggingEnabled;
    const bool toDatabase = moment.toDatabase && cfg.databaseLogging == DatabaseLoggingState::Active;
    for (const RecordPtr& record : moment.records) {
        if (toFile) logging.m_fileQueue.push(record);
        if (toDatabase) logging.m_databaseQueue.push(record);
    }
    const ConnectWait wait = moment.wait;
    moment = {};
    // The moment's records are on disk before anything is written.
    keepWaitingRecords(logging, wait);
    const bool ownSlice = logging.m_sliceStart == std::chrono::steady_clock::time_point{};
    if (ownSlice) logging.startSlice();
    if (cfg.fileLoggingEnabled) FileLogWriter(logging);
    if (cfg.databaseLogging == DatabaseLoggingState::Active) DatabaseRecordWriter(logging, wait);
    if (ownSlice) logging.endSlice();
    return false;
}

void LoggingSampler(Logging& logging, ConnectWait wait) {
    if (!beginLoggingMoment(logging, wait)) return;
    while (loggingMomentStep(logging, std::chrono::hours(1))) {
    }
}

}  // namespace quorna
