#include "logger/live_poller.h"

#include <algorithm>

#include "bus/modbus_master.h"
#include "meters/meter_list.h"
#include "meters/meter_model.h"
#include "meters/register_map.h"

namespace quorna {
namespace {

constexpr auto kMeterPeriod = std::chrono::milliseconds(1000);  // a meter is polled at most this often

}  // namespace

void LivePoller::followList(Station& station) {
    const std::vector<MeterEntry>& entries = station.meters().list().entries();
    if (entries == m_listed) return;
    std::vector<Entry> fresh;
    for (const MeterEntry& listed : entries) {
        const int address = listed.address;
        if (address < 0) continue;
        const auto old = std::find_if(m_entries.begin(), m_entries.end(),
                                      [address](const Entry& e) { return e.meter.address == address; });
        Entry entry = old != m_entries.end() ? *old : Entry{};
        entry.meter.address = address;
        entry.meter.model = directoryModel(station.meters().directory(), address);
        if (entry.meter.model != entry.meter.readout.model) entry.meter.up = false;
        fresh.push_back(std::move(entry));
    }
    m_entries = std::move(fresh);
    m_listed = entries;
    if (m_next >= m_entries.size()) m_next = 0;
}

bool LivePoller::pollNext(Station& station, int* waitMs) {
    *waitMs = static_cast<int>(kMeterPeriod.count());
    if (!m_polling || m_entries.empty()) return false;
    if (!station.bus().link().portOpen || station.meters().scanning()) return false;
    const auto now = std::chrono::steady_clock::now();
    for (std::size_t step = 0; step < m_entries.size(); ++step) {
        const std::size_t index = (m_next + step) % m_entries.size();
        Entry& e = m_entries[index];
        const int count = pollCountOf(e.meter.model);
        if (count == 0) continue;
        const auto due = e.lastAttempt + kMeterPeriod;
        if (e.lastAttempt.time_since_epoch().count() != 0 && due > now) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count() + 1;
            *waitMs = std::min(*waitMs, static_cast<int>(ms));
            continue;
        }
        m_next = (index + 1) % m_entries.size();
        e.lastAttempt = now;
        std::array<std::int32_t, kBranchPollCount> block{};
        const ModbusError code = readRegisters(station.bus(), e.meter.address, 0, count, block.data());
        LiveMeter& m = e.meter;
        const bool first = !m.polled;
        m.polled = true;
        if (code != ModbusError::Ok) {
            if (m.up || first) {
                m_op.write(MessageLevel::Warning, "meter " + std::to_string(m.address) +
                                                      (m.name.empty() ? "" : " " + m.name) +
                                                      " does not answer the live poll (" + errorText(code) + ")");
            }
            m.up = false;
            return true;
        }
        const bool wasDown = !m.up && !first;
        m.readout = readoutFromBlock(m.model, block.data());
        m.up = true;
        m.lastRead = std::time(nullptr);
        if (m.name.empty() || wasDown) {
            const MeterNames names = readMeterNames(station.meters(), m.address);
            if (!names.first.empty()) m.name = names.first;
        }
        if (wasDown) {
            m_op.write(MessageLevel::Info, "meter " + std::to_string(m.address) + (m.name.empty() ? "" : " " + m.name) +
                                               " answers the live poll again");
        }
        m_events.compare(m.address, m.name, e.lastLamps, m.readout, m.lastRead);
        e.lastLamps = m.readout.lamps;
        return true;
    }
    return false;
}

void LivePoller::afterTick(Station& station) {
    followList(station);
    const std::time_t next = station.logging().nextMoment();
    if (next != m_lastNextMoment) {
        ++m_moments;
        m_lastNextMoment = next;
    }
    const Spool& spool = station.logging().spool();
    m_spoolFile = spool.isOpen() ? spool.count(Sink::File) : 0;
    m_spoolDatabase = spool.isOpen() ? spool.count(Sink::Database) : 0;
}

std::shared_ptr<const LiveSnapshot> LivePoller::snapshot(const Station& station) const {
    auto s = std::make_shared<LiveSnapshot>();
    s->location = station.settings().locationName;
    s->live = m_polling;
    for (const Entry& e : m_entries) s->meters.push_back(e.meter);
    s->transactions = station.bus().statistics().outcomes;
    s->spoolFile = m_spoolFile;
    s->spoolDatabase = m_spoolDatabase;
    s->loggingMoments = m_moments;
    s->alarmEvents = m_events.counts();
    return s;
}

}  // namespace quorna
