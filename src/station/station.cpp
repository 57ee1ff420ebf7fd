#include "station/station.h"

#include <chrono>
#include <string>

#include "logging/database_record_writer.h"
#include "logging/durable_queue.h"
#include "logging/logging_sampler.h"
#include "meters/meter_scan.h"
#include "meters/polling_cycle.h"

namespace quorna {

Station::Station(Operator& op)
    : m_op(op),
      m_bus(op),
      m_meters(m_bus, m_settings),
      m_logging(m_meters, m_settings),
      m_trace(m_bus),
      m_alarms(m_meters),
      m_panelSetup(m_meters),
      m_panelConfig(m_meters),
      m_databaseLink(m_logging) {}

bool Station::readSettings() {
    const std::string::size_type slash = m_configFile.rfind('/');
    m_logging.useStateDirectory(slash == std::string::npos ? std::string() : m_configFile.substr(0, slash + 1),
                                spoolFileNameFor(m_configFile));
    return readConfiguration(m_settings, m_bus.link(), m_configFile.c_str());
}

void Station::tick() {
    if (tickUnderWay()) return;  // the tick before still awaits an answer: this one is skipped
    SerialLink& link = m_bus.link();
    if (link.reopenRequested) {
        link.reopenRequested = false;
        const std::string name = link.portName;
        if (openPort(m_bus, name, m_meters.scanning())) m_meters.startScan();
        link.reopenRequested = false;
        if (!link.portOpen) return;
    }
    if (!link.portOpen || m_meters.scanning()) return;

    if (m_pollSelected && m_meters.beginPoll()) {
        m_tickStage = TickStage::Poll;
        return;
    }
    beginMoment();
}

void Station::beginMoment() {
    m_tickStage = TickStage::Idle;
    if (!m_settings.fileLoggingEnabled && m_settings.databaseLogging != DatabaseLoggingState::Active) return;
    if (beginLoggingMoment(m_logging, ConnectWait::None)) m_tickStage = TickStage::Moment;
}

bool Station::step() {
    switch (m_tickStage) {
        case TickStage::Poll:
            if (m_meters.pollStep(kAnswerSlice)) return true;
            beginMoment();
            return busy();
        case TickStage::Moment:
            if (loggingMomentStep(m_logging, kAnswerSlice)) return true;
            m_tickStage = TickStage::Idle;
            return busy();
        case TickStage::Idle:
            break;
    }
    return m_meters.scanning() && m_meters.scanStep();
}

void Station::finishTick() {
    while (tickUnderWay()) (void)step();
}

void Station::scan() { m_meters.startScan(); }
bool Station::scanStep() {
    // A tick under way awaits its answers first: no probe goes out in the middle of them.
    if (tickUnderWay()) {
        (void)step();
        return true;
    }
    return m_meters.scanStep();
}
void Station::cancelScan() { m_meters.cancelScan(); }

void Station::PollingCycle() {
    const bool opening = m_bus.link().reopenRequested;
    tick();
    finishTick();
    if (m_meters.scanning()) {
        while (scanStep()) {
        }
        if (opening) {
            tick();
            finishTick();
        }
    }
    // The spool's opening and a connect the tick began are waited for, and the records go as the
    // tick would have sent them.
    finishLoggingWork(m_logging);
}

}  // namespace quorna

namespace quorna {

bool Station::catchUp() { return catchUpLogging(m_logging, ConnectWait::Briefly); }

}  // namespace quorna

namespace quorna {

bool Station::scanning() const { return m_meters.scanning(); }

}  // namespace quorna
