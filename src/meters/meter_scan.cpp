#include "meters/meter_scan.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bus/modbus_master.h"
#include "meters/register_map.h"
#include "settings/configuration.h"

namespace quorna {
namespace {

// A short pause before each probe lets the bus settle after the previous answer.
constexpr auto kProbePause = std::chrono::milliseconds(10);
// The longest a step waits for a probe's answer before it returns to the caller.
constexpr auto kProbeSlice = std::chrono::milliseconds(50);
constexpr const char* kScanFailureCaption = "Com port failure";

bool isListedModel(int model) { return model == kBranchMeter || isCircuitModel(model); }

// An answer that came but could not be read: another master's answer on the line, noise, a frame
// split by a gateway. Unlike silence it says that something may live at the address.
bool isGarbled(ModbusError code) {
    switch (code) {
        case ModbusError::ResponseTooLarge:
        case ModbusError::CrcError:
        case ModbusError::WrongAddress:
        case ModbusError::WrongFunction:
        case ModbusError::WrongDataLength: return true;
        default: return false;
    }
}

}  // namespace

// The probe of one address, once its answer has come (or not). Returns false when the scan must
// end after this address.
bool Meters::probeAnswered(int address, ModbusError code, int slaveId, const std::string& deviceText, bool& found) {
    const SerialLink& link = m_bus.link();
    Operator& op = m_op;
    if (code == ModbusError::Timeout) return true;
    if (code == ModbusError::WrongByteCount) {
        char text[96];
        std::snprintf(text, sizeof text, "Comm port %s not properly opened.", link.portName.c_str());
        op.error(text, kScanFailureCaption);
        return false;
    }
    if (code != ModbusError::Ok) {
        if (isGarbled(code)) m_garbledAddresses.push_back(address);
        char text[96];
        std::snprintf(text, sizeof text, "Address [%d] Returned Error Code [%d].", address, errorCode(code));
        op.error(text, kScanFailureCaption);
        return true;
    }
    // The directory has room for every address the scan asks (1 to 247).
    recordSlaveId(address, slaveId);
    const MeterModel model = modelFromDeviceText(deviceText);
    if (!isListedModel(model)) return true;
    const MeterNames names = readMeterNames(*this, address);
    MeterList& list = m_list;
    list.insert(list.count(), MeterEntry{address, model, names.first, deviceText});
    if (!found) {
        found = true;
        m_selected.address = address;
        m_selected.model = model;
        op.repaintNow();
        list.select(0);
        showLayoutFor(model);
        op.repaintNow();
    }
    return true;
}

// Begins a scan: the list says "Searching..." until the first step. With the port closed the
// scan ends here.
void Meters::beginScan() {
    m_scanning = true;
    Operator& op = m_op;
    SerialLink& link = m_bus.link();
    if (!link.portOpen) {
        // One more try at the stored port; opened or not, the operator is asked to choose one.
        const std::string name = link.portName;
        (void)openPort(m_bus, name, m_scanning);
        op.error("Please select a COM port");
        op.transferFields();
        m_scanning = false;
        return;
    }
    op.setWaitCursor(true);
    MeterList& list = m_list;
    list.clear();
    m_garbledAddresses.clear();
    list.showProgress({});
    op.transferFields();
    op.repaintNow();
    m_scan.nextAddress = 1;
    m_scan.found = false;
}

void Meters::endScan() {
    Operator& op = m_op;
    m_list.hideProgress();
    op.repaintNow();
    op.setWaitCursor(false);
    op.transferFields();
    m_scanning = false;
    m_scan.nextAddress = 0;
    m_scan.probing = false;
}

void Meters::startScan() {
    if (m_scanning) {
        ++m_scan.waiting;
        return;
    }
    beginScan();
}

bool Meters::scanStep() {
    if (!m_scanning) {
        if (m_scan.waiting == 0) return false;
        --m_scan.waiting;
        beginScan();
        return m_scanning || m_scan.waiting > 0;
    }
    // The depth is read again for every address, so a change made meanwhile takes effect.
    const int address = m_scan.nextAddress;
    const int depth = m_settings.scanDepth;
    if (address > depth) {
        endScan();
        return m_scan.waiting > 0;
    }
    Operator& op = m_op;
    int slaveId = 0;
    std::string deviceText;
    ModbusError code = ModbusError::Ok;
    if (!m_scan.probing) {
        // This step sends the probe; the following ones wait for its answer a slice at a time.
        m_list.showProgress({address, depth});
        op.repaintNow();
        std::this_thread::sleep_for(kProbePause);
        code = beginReportSlaveId(m_bus, address);
        m_scan.probing = code == ModbusError::Ok;
        if (m_scan.probing) return true;
    } else {
        const std::optional<ModbusError> answer = awaitReportSlaveId(m_bus, kProbeSlice, slaveId, deviceText);
        if (!answer) return true;
        code = *answer;
        m_scan.probing = false;
    }
    const bool goOn = probeAnswered(address, code, slaveId, deviceText, m_scan.found);
    if (m_bus.traceLive()) op.repaintTrace();
    m_scan.nextAddress = address + 1;
    if (!goOn) {
        endScan();
        return m_scan.waiting > 0;
    }
    return true;
}

void Meters::cancelScan() {
    m_scan.waiting = 0;
    if (m_scan.probing) abandonTransaction(m_bus);
    m_scan.probing = false;
    if (m_scanning) endScan();
}

void MeterScan(Meters& meters) {
    meters.startScan();
    while (meters.scanStep()) {
    }
}

bool Meters::beginReprobe() {
    if (m_scanning || !m_bus.link().portOpen || m_garbledAddresses.empty()) return false;
    m_reprobe = ReprobeProgress{};
    m_reprobe.underWay = true;
    m_reprobe.addresses = m_garbledAddresses;
    return true;
}

bool Meters::reprobeStep(std::chrono::milliseconds slice) {
    if (!m_reprobe.underWay) return false;
    const int address = m_reprobe.addresses[m_reprobe.next];
    int slaveId = 0;
    std::string deviceText;
    ModbusError code = ModbusError::Ok;
    if (!m_reprobe.probing) {
        code = beginReportSlaveId(m_bus, address);
        m_reprobe.probing = code == ModbusError::Ok;
    }
    if (m_reprobe.probing) {
        const std::optional<ModbusError> answer = awaitReportSlaveId(m_bus, slice, slaveId, deviceText);
        if (!answer) return true;
        code = *answer;
        m_reprobe.probing = false;
    }
    if (isGarbled(code)) {
        m_reprobe.stillGarbled.push_back(address);
    } else if (code == ModbusError::Ok && !m_scanning) {  // a scan begun meanwhile lists it itself
        recordSlaveId(address, slaveId);
        const MeterModel model = modelFromDeviceText(deviceText);
        if (isListedModel(model)) {
            const MeterNames names = readMeterNames(*this, address);
            m_list.insertInAddressOrder(MeterEntry{address, model, names.first, deviceText});
        }
    }
    if (++m_reprobe.next < m_reprobe.addresses.size()) return true;
    // A scan begun meanwhile keeps the garbled addresses it finds itself.
    if (!m_scanning) m_garbledAddresses = std::move(m_reprobe.stillGarbled);
    m_reprobe = ReprobeProgress{};
    return false;
}

void Meters::selectMeter() {
    SelectedMeter& meter = m_selected;
    if (m_list.selectedEntry() == nullptr) {
        meter.address = -1;
        return;
    }
    m_op.transferFields();
    m_op.repaintNow();
    // Read after the repaint, which may have changed the list.
    const MeterEntry* picked = m_list.selectedEntry();
    if (picked == nullptr) {
        meter.address = -1;
        return;
    }
    meter.model = picked->model;
    const int address = picked->address;
    // Selection accepts the addresses a panel's meters use; others are not polled.
    if (address < kFirstSelectableAddress || address > kLastSelectableAddress) {
        meter.address = -1;
        return;
    }
    meter.address = address;
    const int directory = modelAt(address);
    if (directory == kBranchMeter || isCircuitModel(directory)) showLayoutFor(directory);
}

}  // namespace quorna
