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
constexpr int kProgressLine = 0;
constexpr const char* kScanFailureCaption = "Com port failure";

std::string progressText(int address, int depth) {
    char text[48];
    std::snprintf(text, sizeof text, "Searching: %d of %d", address, depth);
    return text;
}

std::string entryText(int address, const std::string& name, const std::string& deviceText) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%02d - ", address);
    return prefix + name + " [" + deviceText + "]";
}

void showLayoutFor(Meters& meters, int model) {
    meters.fields.layout = model == kBranchMeter ? Layout::BranchView : Layout::CircuitView;
    meters.op.applyLayout(meters.fields.layout);
}

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

// Where an entry for the address goes so that the list stays in address order.
int positionFor(const MeterList& list, int address) {
    int position = 0;
    while (position < list.count() && leadingAddress(list.entries[static_cast<std::size_t>(position)]) < address) ++position;
    return position;
}

// The probe of one address, once its answer has come (or not). Returns false when the scan must
// end after this address.
bool probeAnswered(Meters& meters, int address, ModbusError code, int slaveId, const std::string& deviceText,
                   bool& found) {
    const SerialLink& link = meters.bus.link();
    Operator& op = meters.op;
    if (code == ModbusError::Timeout) return true;
    if (code == ModbusError::WrongByteCount) {
        char text[96];
        std::snprintf(text, sizeof text, "Comm port %s not properly opened.", link.portName.c_str());
        op.error(text, kScanFailureCaption);
        return false;
    }
    if (code != ModbusError::Ok) {
        if (isGarbled(code)) meters.garbledAddresses.push_back(address);
        char text[96];
        std::snprintf(text, sizeof text, "Address [%d] Returned Error Code [%d].", address, errorCode(code));
        op.error(text, kScanFailureCaption);
        return true;
    }
    // The directory has room for every address the scan asks (1 to 247).
    if (address < kMeterDirectorySize) meters.directory[static_cast<std::size_t>(address)] = slaveId;
    const MeterModel model = modelFromDeviceText(deviceText);
    if (!isListedModel(model)) return true;
    const MeterNames names = readMeterNames(meters, address);
    MeterList& list = meters.list;
    list.insert(list.count(), entryText(address, names.first, deviceText));
    if (!found) {
        found = true;
        meters.selected.address = address;
        meters.selected.model = model;
        op.repaintNow();
        list.select(kProgressLine + 1);
        showLayoutFor(meters, model);
        op.repaintNow();
    }
    return true;
}

// Begins a scan: the list says "Searching..." until the first step. With the port closed the
// scan ends here.
void beginScan(Meters& meters) {
    meters.scanning = true;
    Operator& op = meters.op;
    SerialLink& link = meters.bus.link();
    if (!link.portOpen) {
        // One more try at the stored port; opened or not, the operator is asked to choose one.
        const std::string name = link.portName;
        (void)openPort(meters.bus, name, meters.scanning);
        op.error("Please select a COM port");
        op.transferFields();
        meters.scanning = false;
        return;
    }
    op.setWaitCursor(true);
    MeterList& list = meters.list;
    list.clear();
    meters.garbledAddresses.clear();
    list.insert(kProgressLine, "Searching...");
    op.transferFields();
    op.repaintNow();
    meters.scan.nextAddress = 1;
    meters.scan.found = false;
}

void endScan(Meters& meters) {
    Operator& op = meters.op;
    meters.list.erase(kProgressLine);
    op.repaintNow();
    op.setWaitCursor(false);
    op.transferFields();
    meters.scanning = false;
    meters.scan.nextAddress = 0;
    meters.scan.probing = false;
}

}  // namespace

void startScan(Meters& meters) {
    if (meters.scanning) {
        ++meters.scan.waiting;
        return;
    }
    beginScan(meters);
}

bool scanStep(Meters& meters) {
    if (!meters.scanning) {
        if (meters.scan.waiting == 0) return false;
        --meters.scan.waiting;
        beginScan(meters);
        return meters.scanning || meters.scan.waiting > 0;
    }
    // The depth is read again for every address, so a change made meanwhile takes effect.
    const int address = meters.scan.nextAddress;
    const int depth = meters.settings.scanDepth;
    if (address > depth) {
        endScan(meters);
        return meters.scan.waiting > 0;
    }
    Operator& op = meters.op;
    if (!meters.scan.probing) {
        // This step sends the probe; the following ones wait for its answer a slice at a time.
        meters.list.replace(kProgressLine, progressText(address, depth));
        op.repaintNow();
        std::this_thread::sleep_for(kProbePause);
        meters.scan.probing = beginReportSlaveId(meters.bus, address) == ModbusError::Ok;
        if (meters.scan.probing) return true;
    }
    int slaveId = 0;
    std::string deviceText;
    ModbusError code = ModbusError::InvalidParameter;
    if (meters.scan.probing) {
        const std::optional<ModbusError> answer = awaitReportSlaveId(meters.bus, kProbeSlice, slaveId, deviceText);
        if (!answer) return true;
        code = *answer;
        meters.scan.probing = false;
    }
    const bool goOn = probeAnswered(meters, address, code, slaveId, deviceText, meters.scan.found);
    if (meters.bus.traceLive()) op.repaintTrace();
    meters.scan.nextAddress = address + 1;
    if (!goOn) {
        endScan(meters);
        return meters.scan.waiting > 0;
    }
    return true;
}

void cancelScan(Meters& meters) {
    meters.scan.waiting = 0;
    if (meters.scan.probing) abandonTransaction(meters.bus);
    meters.scan.probing = false;
    if (meters.scanning) endScan(meters);
}

void MeterScan(Meters& meters) {
    startScan(meters);
    while (scanStep(meters)) {
    }
}

void reprobeGarbledAddresses(Meters& meters) {
    if (meters.scanning || !meters.bus.link().portOpen) return;
    std::vector<int> stillGarbled;
    for (const int address : meters.garbledAddresses) {
        int slaveId = 0;
        std::string deviceText;
        const ModbusError code = reportSlaveId(meters.bus, address, slaveId, deviceText);
        if (isGarbled(code)) {
            stillGarbled.push_back(address);
            continue;
        }
        if (code != ModbusError::Ok) continue;
        if (address < kMeterDirectorySize) meters.directory[static_cast<std::size_t>(address)] = slaveId;
        if (!isListedModel(modelFromDeviceText(deviceText))) continue;
        const MeterNames names = readMeterNames(meters, address);
        meters.list.insert(positionFor(meters.list, address), entryText(address, names.first, deviceText));
    }
    meters.garbledAddresses = std::move(stillGarbled);
}

void selectMeter(Meters& meters) {
    SelectedMeter& meter = meters.selected;
    const MeterList& list = meters.list;
    if (list.selection < 0 || list.selection >= list.count()) {
        meter.address = -1;
        return;
    }
    meters.op.transferFields();
    meters.op.repaintNow();
    const std::string text = list.entries[static_cast<std::size_t>(list.selection)];
    meter.model = modelFromDeviceText(text);
    const int address = leadingAddress(text);
    // Selection accepts the addresses a panel's meters use; others are not polled.
    if (address < kFirstSelectableAddress || address > kLastSelectableAddress) {
        meter.address = -1;
        return;
    }
    meter.address = address;
    const int directory = directoryModel(meters.directory, address);
    if (directory == kBranchMeter || isCircuitModel(directory)) showLayoutFor(meters, directory);
}

}  // namespace quorna
