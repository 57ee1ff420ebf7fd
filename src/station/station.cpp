#include "station/station.h"

#include <chrono>
#include <string>

#include "logging/durable_queue.h"
#include "logging/logging_sampler.h"
#include "meters/meter_scan.h"
#include "meters/polling_cycle.h"

namespace quorna {
namespace {

struct TickDepth {
    explicit TickDepth(int& depth) : m_depth(depth) { ++m_depth; }
    ~TickDepth() { --m_depth; }
    TickDepth(const TickDepth&) = delete;
    TickDepth& operator=(const TickDepth&) = delete;

private:
    int& m_depth;
};

}  // namespace

Station::Station(Operator& op)
    : op(op),
      bus(op),
      meters(bus, settings),
      logging(meters, settings),
      trace(bus),
      alarms(meters),
      panelSetup(meters),
      panelConfig(meters),
      databaseLink(logging) {}

bool Station::readSettings() {
    const std::string::size_type slash = configFile.rfind('/');
    logging.stateDirectory = slash == std::string::npos ? std::string() : configFile.substr(0, slash + 1);
    logging.spoolFileName = spoolFileNameFor(configFile);
    return readConfiguration(settings, bus.link, configFile.c_str());
}

void Station::PollingCycle() {
    const TickDepth depth(m_tickDepth);
    SerialLink& link = bus.link;
    if (link.reopenRequested) {
        link.reopenRequested = false;
        const std::string name = link.portName;
        if (openPort(bus, name, meters.scanning)) MeterScan(meters);
        link.reopenRequested = false;
        if (!link.portOpen) return;
    }
    if (!link.portOpen || meters.scanning) return;

    // The poll counts against the time the logging writers may take in this tick, so that a
    // backlog adds little to it; the rest goes in slices between the ticks. A tick inside a box
    // of another tick has a budget of its own.
    const auto outerSlice = logging.sliceStart;
    logging.sliceStart = std::chrono::steady_clock::now();
    pollSelectedMeter(meters);

    if (settings.fileLoggingEnabled || settings.databaseLogging == DatabaseLoggingState::Active) LoggingSampler(logging);
    logging.sliceStart = outerSlice;
}

}  // namespace quorna

namespace quorna {

bool Station::catchUp() { return catchUpLogging(logging); }

}  // namespace quorna
