#include "meters/polling_cycle.h"

#include <array>
#include <cstdio>
#include <string>

#include "app/main_window_fields.h"
#include "app/operator.h"
#include "bus/modbus_master.h"
#include "bus/serial_link.h"
#include "logging/logging_sampler.h"
#include "meters/meter_model.h"
#include "meters/meter_scan.h"
#include "meters/meter_state.h"
#include "meters/register_map.h"
#include "settings/configuration.h"

namespace quorna {
namespace {

constexpr double kBreakerAmpsPerCount = 0.001;
constexpr double kVoltsPerCount = 0.01;
constexpr double kPowerFactorPerCount = 0.0001;
constexpr int kSummaryRegisters = 6;        // bits 0 to 5 of register 42
constexpr int kBreakersPerRegister = 16;
constexpr std::uint32_t kCircuitOverAmpsBit = 1U << 0;
constexpr std::uint32_t kCircuitOverVoltsBit = 1U << 4;
constexpr const char* kFailureCaption = "Communication Failure";

// Circuit meter registers.
constexpr int kCircuitKw = 2, kCircuitKvar = 3, kCircuitKva = 4, kCircuitPf = 5;
constexpr int kCircuitLlAvg = 6, kCircuitLnAvg = 7, kCircuitCurrentAvg = 8;
constexpr int kCircuitLlAB = 16, kCircuitLlBC = 17, kCircuitLlCA = 18;
constexpr int kCircuitLnAN = 19, kCircuitLnBN = 20, kCircuitLnCN = 21;
constexpr int kCircuitCurrentA = 22, kCircuitCurrentB = 23, kCircuitCurrentC = 24, kCircuitCurrentN = 25;

int g_tickDepth = 0;

using PollBlock = std::array<std::int32_t, kBranchPollCount>;

std::string formatted(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string twoDecimals(double value) { return formatted("%.2f", value); }

double reg(const PollBlock& block, int index) {
    return static_cast<double>(static_cast<std::uint32_t>(block[static_cast<std::size_t>(index)]) & 0xFFFFU);
}

void showBranch(int address, const PollBlock& block) {
    MainWindowFields& fields = mainFields();
    for (int i = 0; i < kBreakerCount; ++i) {
        fields.breaker[static_cast<std::size_t>(i)] = formatted("%.3f", reg(block, i) * kBreakerAmpsPerCount);
    }
    if (block[kBranchStatusSummary] == 0) {
        setAllLampsGreen();
    } else {
        showAlarmLamps(block.data());
    }
    fields.firstName = readMeterNames(serialLink(), address).first;
    ui().transferFields();
}

void showCircuit(int address, int model, const PollBlock& block) {
    MainWindowFields& fields = mainFields();
    fields.lnAN = twoDecimals(reg(block, kCircuitLnAN) * kVoltsPerCount);
    fields.lnBN = twoDecimals(reg(block, kCircuitLnBN) * kVoltsPerCount);
    fields.lnCN = twoDecimals(reg(block, kCircuitLnCN) * kVoltsPerCount);
    fields.lnAvg = twoDecimals(reg(block, kCircuitLnAvg) * kVoltsPerCount);
    fields.llAB = twoDecimals(reg(block, kCircuitLlAB) * kVoltsPerCount);
    fields.llBC = twoDecimals(reg(block, kCircuitLlBC) * kVoltsPerCount);
    fields.llCA = twoDecimals(reg(block, kCircuitLlCA) * kVoltsPerCount);
    fields.llAvg = twoDecimals(reg(block, kCircuitLlAvg) * kVoltsPerCount);

    CurrentScale = currentScaleFor(block[kCircuitRangeRegister]);
    const double scale = CurrentScale;
    fields.currentA = twoDecimals(reg(block, kCircuitCurrentA) * scale);
    fields.currentB = twoDecimals(reg(block, kCircuitCurrentB) * scale);
    fields.currentC = twoDecimals(reg(block, kCircuitCurrentC) * scale);
    fields.currentAvg = twoDecimals(reg(block, kCircuitCurrentAvg) * scale);
    fields.currentN = model == kCircuitMeter6 ? twoDecimals(reg(block, kCircuitCurrentN) * scale) : "N/A";

    fields.kW = twoDecimals(reg(block, kCircuitKw) * scale);
    fields.kVAr = twoDecimals(reg(block, kCircuitKvar) * scale);
    fields.kVA = twoDecimals(reg(block, kCircuitKva) * scale);
    fields.pf = twoDecimals(reg(block, kCircuitPf) * kPowerFactorPerCount);

    showAlarmLamps(block.data());
    const MeterNames names = readMeterNames(serialLink(), address);
    fields.firstName = names.first;
    fields.secondName = names.second;
    ui().transferFields();
}

std::string failureText(int address, ModbusError code) {
    char text[96];
    if (code == ModbusError::Timeout) {
        std::snprintf(text, sizeof text, "Device at address [%d] timed out", address);
    } else {
        std::snprintf(text, sizeof text, "Device at address [%d] read failure - error code [%d]", address,
                      errorCode(code));
    }
    return text;
}

// Polls a Branch or Circuit meter. A failed read shows zeros and green lamps, except at the fifth
// failure in a row, which tells the operator once and leaves the screen as it was.
void pollDisplayedMeter(int address, int model) {
    const bool branch = model == kBranchMeter;
    PollBlock block{};
    const ModbusError code =
        readRegisters(serialLink(), address, 0, branch ? kBranchPollCount : kCircuitPollCount, block.data());
    if (code == ModbusError::Ok) {
        consecutiveFailures = 0;
    } else {
        BusStatistics& statistics = busStatistics();
        statistics.lastError = code;
        block.fill(0);
        ++statistics.badReads;
        ++consecutiveFailures;
        if (consecutiveFailures == kFailuresBeforeMessage) {
            ui().messageBox(failureText(address, code), kFailureCaption);
            return;
        }
    }
    if (branch) {
        showBranch(address, block);
    } else {
        showCircuit(address, model, block);
    }
}

// Models the window does not display: only the counters change.
void pollCountedMeter(int address, int start, int count, bool lampsGreen) {
    std::array<std::int32_t, kFullDataCount> values{};
    const ModbusError code = readRegisters(serialLink(), address, start, count, values.data());
    BusStatistics& statistics = busStatistics();
    if (code == ModbusError::Ok) {
        ++statistics.goodReads;
    } else {
        statistics.lastError = code;
        ++statistics.badReads;
    }
    if (lampsGreen) setAllLampsGreen();
    ui().transferFields();
}

struct TickDepth {
    TickDepth() { ++g_tickDepth; }
    ~TickDepth() { --g_tickDepth; }
    TickDepth(const TickDepth&) = delete;
    TickDepth& operator=(const TickDepth&) = delete;
};

}  // namespace

int pollingTickDepth() { return g_tickDepth; }

void setAllLampsGreen() {
    MainWindowFields& fields = mainFields();
    fields.breakerLamp.fill(Lamp::Green);
    fields.overAmps = Lamp::Green;
    fields.overVolts = Lamp::Green;
    ui().showLamps();
}

void showAlarmLamps(const std::int32_t* block) {
    MainWindowFields& fields = mainFields();
    fields.breakerLamp.fill(Lamp::Green);
    fields.overAmps = Lamp::Green;
    fields.overVolts = Lamp::Green;
    const int model = selectedMeter().model;
    if (model == kBranchMeter) {
        const auto summary = static_cast<std::uint32_t>(block[kBranchStatusSummary]);
        // Registers 43 to 45 mark warnings, 46 to 48 alarms; the later ones win.
        for (int n = 0; n < kSummaryRegisters; ++n) {
            if ((summary & (1U << n)) == 0) continue;
            const auto bits = static_cast<std::uint32_t>(block[kBranchFirstAlarmBits + n]);
            const Lamp lamp = n < 3 ? Lamp::Yellow : Lamp::Red;
            const int firstBreaker = (n % 3) * kBreakersPerRegister;
            for (int k = 0; k < kBreakersPerRegister && firstBreaker + k < kBreakerCount; ++k) {
                if ((bits & (1U << k)) != 0) fields.breakerLamp[static_cast<std::size_t>(firstBreaker + k)] = lamp;
            }
        }
    } else if (isCircuitModel(model)) {
        const auto bits = static_cast<std::uint32_t>(block[kCircuitAlarmBits]);
        if ((bits & kCircuitOverAmpsBit) != 0) fields.overAmps = Lamp::Red;
        if ((bits & kCircuitOverVoltsBit) != 0) fields.overVolts = Lamp::Red;
    }
    ui().showLamps();
}

void PollingCycle() {
    const TickDepth depth;
    SerialLink& link = serialLink();
    if (link.reopenRequested) {
        link.reopenRequested = false;
        const std::string name = link.portName;
        openPort(name);
        link.reopenRequested = false;
        if (!link.portOpen) return;
    }
    if (!link.portOpen || scanning) return;

    const SelectedMeter meter = selectedMeter();
    switch (meter.model) {
        case kNoModel:
            setAllLampsGreen();
            break;
        case kBranchMeter:
        case kCircuitMeter8:
        case kCircuitMeter6:
            pollDisplayedMeter(meter.address, meter.model);
            break;
        case kTemperatureMeter:
            pollCountedMeter(meter.address, kTemperatureStart, kTemperatureCount, true);
            break;
        case kEnergyOnlyMeter:
            pollCountedMeter(meter.address, kEnergyOnlyStart, kEnergyOnlyCount, false);
            break;
        case kFullDataMeter:
            pollCountedMeter(meter.address, kFullDataStart, kFullDataCount, true);
            break;
        default:
            break;
    }

    const ConfigurationRecord& settings = configuration();
    if (settings.fileLoggingEnabled || settings.databaseLogging == DatabaseLoggingState::Active) LoggingSampler();
}

}  // namespace quorna
