#include "meters/meter_scan.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/main_window_fields.h"
#include "app/operator.h"
#include "bus/modbus_master.h"
#include "bus/serial_link.h"
#include "bus/trace_ring.h"
#include "meters/meter_list.h"
#include "meters/meter_model.h"
#include "meters/meter_state.h"
#include "meters/register_map.h"
#include "settings/configuration.h"

namespace quorna {
namespace {

// A short pause before each probe lets the bus settle after the previous answer.
constexpr auto kProbePause = std::chrono::milliseconds(10);
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

void showLayoutFor(int model) {
    mainFields().layout = model == kBranchMeter ? Layout::BranchView : Layout::CircuitView;
    ui().applyLayout(mainFields().layout);
}

bool isListedModel(int model) { return model == kBranchMeter || isCircuitModel(model); }

// The probe of one address. Returns false when the scan must end after this address.
bool probe(int address, bool& found) {
    SerialLink& link = serialLink();
    int slaveId = 0;
    std::string deviceText;
    const ModbusError code = reportSlaveId(link, address, slaveId, deviceText);
    if (code == ModbusError::Timeout) return true;
    if (code == ModbusError::WrongByteCount) {
        char text[96];
        std::snprintf(text, sizeof text, "Comm port %s not properly opened.", link.portName.c_str());
        ui().messageBox(text, kScanFailureCaption);
        return false;
    }
    if (code != ModbusError::Ok) {
        char text[96];
        std::snprintf(text, sizeof text, "Address [%d] Returned Error Code [%d].", address, errorCode(code));
        ui().messageBox(text, kScanFailureCaption);
        return true;
    }
    const MeterModel model = modelFromDeviceText(deviceText);
    if (!isListedModel(model)) return true;
    const MeterNames names = readMeterNames(link, address);
    MeterList& list = meterList();
    list.insert(list.count(), entryText(address, names.first, deviceText));
    if (!found) {
        found = true;
        selectedMeter().address = address;
        selectedMeter().model = model;
        ui().repaintNow();
        list.select(kProgressLine + 1);
        showLayoutFor(model);
        ui().repaintNow();
    }
    return true;
}

}  // namespace

bool scanning = false;

void MeterScan() {
    if (scanning) return;
    scanning = true;
    SerialLink& link = serialLink();
    if (!link.portOpen) {
        const std::string name = link.portName;
        openPort(name);
        ui().messageBox("Please select a COM port", "");
    } else {
        const WaitCursor wait;
        MeterList& list = meterList();
        list.clear();
        list.insert(kProgressLine, "Searching...");
        ui().transferFields();
        ui().repaintNow();

        bool found = false;
        // The depth is read again for every address, so a change made meanwhile takes effect.
        for (int address = 1; address <= configuration().scanDepth; ++address) {
            list.replace(kProgressLine, progressText(address, configuration().scanDepth));
            ui().repaintNow();
            std::this_thread::sleep_for(kProbePause);
            const bool goOn = probe(address, found);
            if (traceLive) ui().repaintTrace();
            if (!goOn) break;
        }
        list.erase(kProgressLine);
        ui().repaintNow();
    }
    ui().transferFields();
    scanning = false;
}

void selectMeter() {
    SelectedMeter& meter = selectedMeter();
    const MeterList& list = meterList();
    if (list.selection < 0 || list.selection >= list.count()) {
        meter.address = -1;
        return;
    }
    ui().transferFields();
    ui().repaintNow();
    const std::string text = list.entries[static_cast<std::size_t>(list.selection)];
    meter.model = modelFromDeviceText(text);
    const int address = leadingAddress(text);
    // Selection accepts the addresses a panel's meters use; others are not polled.
    if (address < kFirstSelectableAddress || address > kLastSelectableAddress) {
        meter.address = -1;
        return;
    }
    meter.address = address;
    const int directory = directoryModel(address);
    if (directory == kBranchMeter || isCircuitModel(directory)) showLayoutFor(directory);
}

}  // namespace quorna
