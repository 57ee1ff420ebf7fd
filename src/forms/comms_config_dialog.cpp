#include "forms/comms_config_dialog.h"

#include <cmath>
#include <cstdlib>

#include "forms/field_validation.h"
#include "logging/logging_sampler.h"
#include "meters/meter_scan.h"

namespace quorna {
namespace {

constexpr int kIntervalChoiceCount = static_cast<int>(IntervalChoices.size());

template <typename Table>
int indexOf(const Table& table, int code) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i] == code) return static_cast<int>(i);
    }
    return -1;
}

int markedPortFor(const std::string& name) {
    for (std::size_t i = 0; i < kPortButtonNames.size(); ++i) {
        if (name == kPortButtonNames[i]) return static_cast<int>(i);
    }
    return -1;
}

bool hasQuote(const std::string& text) { return text.find_first_of("'\"") != std::string::npos; }

}  // namespace

CommsConfigDialog::CommsConfigDialog(Bus& bus, Logging& logging)
    : m_bus(bus),
      m_logging(logging),
      m_savedInterval(logging.settings().loggingInterval),
      m_savedPortName(bus.link().portName),
      m_savedSpeed(bus.link().speed),
      m_savedParity(bus.link().parity),
      m_savedLogPath(logging.settings().logFilePath),
      m_savedLocation(logging.settings().locationName),
      m_intervalChoice(nearestInterval(logging.settings().loggingInterval)),
      m_portText(bus.link().portName),
      m_logPathText(logging.settings().logFilePath),
      m_dsnText(logging.settings().database.dsn),
      m_tableText(logging.settings().database.table),
      m_locationText(logging.settings().locationName),
      m_markedPort(markedPortFor(bus.link().portName)),
      m_markedSpeed(indexOf(kSpeedButtonCodes, bus.link().speed)),
      m_markedParity(indexOf(kParityButtonCodes, bus.link().parity)) {}

std::string CommsConfigDialog::depthText() const {
    return std::to_string(m_logging.settings().scanDepth) + " devices";
}

std::string CommsConfigDialog::intervalText() const {
    return std::to_string(IntervalChoices[static_cast<std::size_t>(m_intervalChoice)]) + " min";
}

bool CommsConfigDialog::clickPort(int index) {
    if (index < 0 || index >= static_cast<int>(kPortButtonNames.size())) return false;
    const bool opened = selectPort(m_bus, kPortButtonNames[static_cast<std::size_t>(index)]);
    m_portText = m_bus.link().portName;
    return opened;
}

void CommsConfigDialog::clickSpeed(int index) {
    if (index < 0 || index >= static_cast<int>(kSpeedButtonCodes.size())) return;
    m_bus.link().speed = kSpeedButtonCodes[static_cast<std::size_t>(index)];
}

void CommsConfigDialog::clickParity(int index) {
    if (index < 0 || index >= static_cast<int>(kParityButtonCodes.size())) return;
    m_bus.link().parity = kParityButtonCodes[static_cast<std::size_t>(index)];
}

void CommsConfigDialog::stepDepth(int steps) {
    int& depth = m_logging.settings().scanDepth;
    depth += steps;
    if (depth < kMinScanDepth) depth = kMaxDialogScanDepth;
    if (depth > kMaxDialogScanDepth) depth = kMinScanDepth;
}

void CommsConfigDialog::stepInterval(int steps) {
    m_intervalChoice = ((m_intervalChoice + steps) % kIntervalChoiceCount + kIntervalChoiceCount) % kIntervalChoiceCount;
}

void CommsConfigDialog::intervalEdited(const std::string& text) {
    const char* start = text.c_str();
    char* end = nullptr;
    const double minutes = std::strtod(start, &end);
    if (end != start && !std::isnan(minutes)) m_intervalChoice = nearestInterval(minutes);
}

bool CommsConfigDialog::save() { return writeConfiguration(m_logging.settings(), m_bus.link(), m_bus.op(), SaveRequest{m_locationText, m_intervalChoice}); }

bool CommsConfigDialog::ok() {
    // Only a location the operator changed is checked: one that came from the file passes as it
    // is (the location edit is hidden, so a check of it could never be satisfied, and the database
    // statements double its quotes).
    const bool changed = m_locationText != m_savedLocation;
    if (changed && static_cast<int>(m_locationText.size()) > kLocationTextLimit) {
        m_bus.op().warning(textLengthMessage(kLocationTextLimit));
        return false;
    }
    // The location is written between single quotes into database statements.
    if (changed && hasQuote(m_locationText)) {
        m_bus.op().warning(kLocationQuoteMessage);
        return false;
    }
    m_logging.settings().locationName = m_locationText;
    m_logging.settings().loggingInterval = IntervalChoices[static_cast<std::size_t>(m_intervalChoice)];
    computeNextLoggingMoment(m_logging);
    return true;
}

void CommsConfigDialog::cancel() {
    m_logging.settings().loggingInterval = m_savedInterval;
    m_bus.link().portName = m_savedPortName;
    m_bus.link().speed = m_savedSpeed;
    m_bus.link().parity = m_savedParity;
    m_logging.settings().logFilePath = m_savedLogPath;
    m_logging.settings().locationName = m_savedLocation;
}

void CommsCommand(Meters& meters, const std::function<bool()>& runDialog) {
    SerialLink& link = meters.bus().link();
    const std::string before = link.portName;
    const bool accepted = runDialog();
    if (accepted && link.portName != before) {
        const std::string chosen = link.portName;
        // A scan of the old port ends here. Opening scans the bus, and the command scans it once more.
        meters.cancelScan();
        if (openPort(meters.bus(), chosen, meters.scanning())) meters.startScan();
        meters.startScan();
    } else {
        link.portName = before;
    }
}

}  // namespace quorna
