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
    logging.useStateDirectory(slash == std::string::npos ? std::string() : configFile.substr(0, slash + 1),
                              spoolFileNameFor(configFile));
    return readConfiguration(settings, bus.link, configFile.c_str());
}

void Station::tick() {
    SerialLink& link = bus.link;
    if (link.reopenRequested) {
        link.reopenRequested = false;
        const std::string name = link.portName;
        if (openPort(bus, name, meters.scanning)) startScan(meters);
        link.reopenRequested = false;
        if (!link.portOpen) return;
    }
    if (!link.portOpen || meters.scanning) return;

    // The poll counts against the time the logging writers may take in this tick, so that a
    // backlog adds little to it; the rest goes in slices between the ticks.
    logging.startSlice();
    if (m_pollSelected) pollSelectedMeter(meters);

    if (settings.fileLoggingEnabled || settings.databaseLogging == DatabaseLoggingState::Active) LoggingSampler(logging, ConnectWait::None);
    logging.endSlice();
}

void Station::scan() { startScan(meters); }
bool Station::scanStep() { return quorna::scanStep(meters); }
void Station::cancelScan() { quorna::cancelScan(meters); }

void Station::PollingCycle() {
    const bool opening = bus.link.reopenRequested;
    tick();
    if (meters.scanning) {
        while (scanStep()) {
        }
        if (opening) tick();
    }
    // The spool's opening and a connect the tick began are waited for, and the records go as the
    // tick would have sent them.
    finishLoggingWork(logging);
}

}  // namespace quorna

namespace quorna {

bool Station::catchUp() { return catchUpLogging(logging, ConnectWait::Briefly); }

}  // namespace quorna
