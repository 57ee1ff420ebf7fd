#include "app/comms_config.h"

#include <cmath>
#include <cstdlib>

#include "app/field_validation.h"
#include "app/operator.h"
#include "bus/serial_link.h"
#include "logging/logging_sampler.h"
#include "meters/meter_scan.h"
#include "settings/configuration.h"

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

CommsConfigDialog::CommsConfigDialog()
    : m_savedInterval(configuration().loggingInterval),
      m_savedPortName(serialLink().portName),
      m_savedSpeed(serialLink().speed),
      m_savedParity(serialLink().parity),
      m_savedLogPath(configuration().logFilePath),
      m_savedLocation(configuration().locationName),
      m_intervalChoice(nearestInterval(configuration().loggingInterval)),
      m_portText(serialLink().portName),
      m_logPathText(configuration().logFilePath),
      m_dsnText(configuration().database.dsn),
      m_tableText(configuration().database.table),
      m_locationText(configuration().locationName),
      m_markedPort(markedPortFor(serialLink().portName)),
      m_markedSpeed(indexOf(kSpeedButtonCodes, serialLink().speed)),
      m_markedParity(indexOf(kParityButtonCodes, serialLink().parity)) {}

std::string CommsConfigDialog::depthText() const {
    return std::to_string(configuration().scanDepth) + " devices";
}

std::string CommsConfigDialog::intervalText() const {
    return std::to_string(IntervalChoices[static_cast<std::size_t>(m_intervalChoice)]) + " min";
}

bool CommsConfigDialog::clickPort(int index) {
    if (index < 0 || index >= static_cast<int>(kPortButtonNames.size())) return false;
    const bool opened = selectPort(kPortButtonNames[static_cast<std::size_t>(index)]);
    m_portText = serialLink().portName;
    return opened;
}

void CommsConfigDialog::clickSpeed(int index) {
    if (index < 0 || index >= static_cast<int>(kSpeedButtonCodes.size())) return;
    serialLink().speed = kSpeedButtonCodes[static_cast<std::size_t>(index)];
}

void CommsConfigDialog::clickParity(int index) {
    if (index < 0 || index >= static_cast<int>(kParityButtonCodes.size())) return;
    serialLink().parity = kParityButtonCodes[static_cast<std::size_t>(index)];
}

void CommsConfigDialog::stepDepth(int steps) {
    int& depth = configuration().scanDepth;
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

bool CommsConfigDialog::save() { return writeConfiguration(SaveRequest{m_locationText, m_intervalChoice}); }

bool CommsConfigDialog::ok() {
    if (static_cast<int>(m_locationText.size()) > kLocationTextLimit) {
        ui().messageBox(textLengthMessage(kLocationTextLimit), "");
        return false;
    }
    // The location is written between single quotes into database statements.
    if (hasQuote(m_locationText)) {
        ui().messageBox(kLocationQuoteMessage, "");
        return false;
    }
    configuration().locationName = m_locationText;
    configuration().loggingInterval = IntervalChoices[static_cast<std::size_t>(m_intervalChoice)];
    computeNextLoggingMoment();
    return true;
}

void CommsConfigDialog::cancel() {
    configuration().loggingInterval = m_savedInterval;
    serialLink().portName = m_savedPortName;
    serialLink().speed = m_savedSpeed;
    serialLink().parity = m_savedParity;
    configuration().logFilePath = m_savedLogPath;
    configuration().locationName = m_savedLocation;
}

void CommsCommand(const std::function<bool()>& runDialog) {
    const std::string before = serialLink().portName;
    const bool accepted = runDialog();
    if (accepted && serialLink().portName != before) {
        const std::string chosen = serialLink().portName;
        openPort(chosen);
        MeterScan();
    } else {
        serialLink().portName = before;
    }
}

}  // namespace quorna
