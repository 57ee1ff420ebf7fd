#include "meters/polling_cycle.h"

#include <array>
#include <cstdio>
#include <string>

#include "bus/modbus_master.h"
#include "meters/register_map.h"

namespace quorna {
namespace {

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

void showBranch(Meters& meters, int address, const PollBlock& block) {
    MainWindowFields& fields = meters.fields;
    for (int i = 0; i < kBreakerCount; ++i) {
        fields.breaker[static_cast<std::size_t>(i)] = formatted("%.3f", reg(block, i) * kBreakerAmpsPerCount);
    }
    if (block[kBranchStatusSummary] == 0) {
        setAllLampsGreen(meters);
    } else {
        showAlarmLamps(meters, block.data());
    }
    fields.firstName = readMeterNames(meters, address).first;
    meters.op.transferFields();
}

void showCircuit(Meters& meters, int address, int model, const PollBlock& block) {
    MainWindowFields& fields = meters.fields;
    fields.lnAN = twoDecimals(reg(block, kCircuitLnAN) * kVoltsPerCount);
    fields.lnBN = twoDecimals(reg(block, kCircuitLnBN) * kVoltsPerCount);
    fields.lnCN = twoDecimals(reg(block, kCircuitLnCN) * kVoltsPerCount);
    fields.lnAvg = twoDecimals(reg(block, kCircuitLnAvg) * kVoltsPerCount);
    fields.llAB = twoDecimals(reg(block, kCircuitLlAB) * kVoltsPerCount);
    fields.llBC = twoDecimals(reg(block, kCircuitLlBC) * kVoltsPerCount);
    fields.llCA = twoDecimals(reg(block, kCircuitLlCA) * kVoltsPerCount);
    fields.llAvg = twoDecimals(reg(block, kCircuitLlAvg) * kVoltsPerCount);

    meters.CurrentScale = currentScaleFor(block[kCircuitRangeRegister]);
    meters.currentScaleAddress = address;
    const double scale = meters.CurrentScale;
    // A range of 6000 or more gives no scale: the currents and powers are not known.
    const auto scaled = [scale](double counts) { return scale == 0.0 ? std::string() : twoDecimals(counts * scale); };
    fields.currentA = scaled(reg(block, kCircuitCurrentA));
    fields.currentB = scaled(reg(block, kCircuitCurrentB));
    fields.currentC = scaled(reg(block, kCircuitCurrentC));
    fields.currentAvg = scaled(reg(block, kCircuitCurrentAvg));
    fields.currentN = model == kCircuitMeter6 ? scaled(reg(block, kCircuitCurrentN)) : "N/A";

    fields.kW = scaled(reg(block, kCircuitKw));
    fields.kVAr = scaled(reg(block, kCircuitKvar));
    fields.kVA = scaled(reg(block, kCircuitKva));
    fields.pf = twoDecimals(reg(block, kCircuitPf) * kPowerFactorPerCount);

    showAlarmLamps(meters, block.data());
    const MeterNames names = readMeterNames(meters, address);
    fields.firstName = names.first;
    fields.secondName = names.second;
    meters.op.transferFields();
}

// After a failed poll nothing of the meter is known: every reading empty, every lamp unknown.
// The names and the scale stay as the last good poll left them.
void showUnknown(Meters& meters, int model) {
    MainWindowFields& fields = meters.fields;
    if (model == kBranchMeter) {
        fields.breaker.fill(std::string());
    } else {
        for (std::string* text : {&fields.lnAN, &fields.lnBN, &fields.lnCN, &fields.lnAvg, &fields.llAB, &fields.llBC,
                                  &fields.llCA, &fields.llAvg, &fields.currentA, &fields.currentB, &fields.currentC,
                                  &fields.currentAvg, &fields.kW, &fields.kVAr, &fields.kVA, &fields.pf}) {
            text->clear();
        }
        fields.currentN = model == kCircuitMeter6 ? std::string() : "N/A";
    }
    setAllLampsUnknown(meters);
    meters.op.transferFields();
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

// Polls a Branch or Circuit meter. A failed read shows the readout as unknown, except at the fifth
// failure in a row, which tells the operator once and leaves the screen as it was.
void pollDisplayedMeter(Meters& meters, int address, int model) {
    const bool branch = model == kBranchMeter;
    PollBlock block{};
    const ModbusError code =
        readRegisters(meters.bus, address, 0, branch ? kBranchPollCount : kCircuitPollCount, block.data());
    if (code == ModbusError::Ok) {
        meters.consecutiveFailures = 0;
    } else {
        BusStatistics& statistics = meters.bus.statistics;
        statistics.lastError = code;
        ++statistics.badReads;
        ++meters.consecutiveFailures;
        if (meters.consecutiveFailures == kFailuresBeforeMessage) {
            meters.op.error(failureText(address, code), kFailureCaption);
            return;
        }
        showUnknown(meters, model);
        return;
    }
    if (branch) {
        showBranch(meters, address, block);
    } else {
        showCircuit(meters, address, model, block);
    }
}

// Models the window does not display: only the counters change.
void pollCountedMeter(Meters& meters, int address, int start, int count, bool lampsGreen) {
    std::array<std::int32_t, kFullDataCount> values{};
    const ModbusError code = readRegisters(meters.bus, address, start, count, values.data());
    BusStatistics& statistics = meters.bus.statistics;
    if (code == ModbusError::Ok) {
        ++statistics.goodReads;
    } else {
        statistics.lastError = code;
        ++statistics.badReads;
    }
    if (lampsGreen) setAllLampsGreen(meters);
    meters.op.transferFields();
}

}  // namespace

namespace {

void setAllLamps(Meters& meters, Lamp lamp) {
    MainWindowFields& fields = meters.fields;
    fields.breakerLamp.fill(lamp);
    fields.overAmps = lamp;
    fields.overVolts = lamp;
    meters.op.showLamps();
}

}  // namespace

void setAllLampsGreen(Meters& meters) { setAllLamps(meters, Lamp::Green); }

void setAllLampsUnknown(Meters& meters) { setAllLamps(meters, Lamp::Unknown); }

void showAlarmLamps(Meters& meters, const std::int32_t* block) {
    MainWindowFields& fields = meters.fields;
    fields.breakerLamp.fill(Lamp::Green);
    fields.overAmps = Lamp::Green;
    fields.overVolts = Lamp::Green;
    const int model = meters.selected.model;
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
    meters.op.showLamps();
}

void pollSelectedMeter(Meters& meters) {
    if (!meters.bus.link.portOpen || meters.scanning) return;
    const SelectedMeter meter = meters.selected;
    switch (meter.model) {
        case kNoModel:
            setAllLampsGreen(meters);
            break;
        case kBranchMeter:
        case kCircuitMeter8:
        case kCircuitMeter6:
            pollDisplayedMeter(meters, meter.address, meter.model);
            break;
        case kTemperatureMeter:
            pollCountedMeter(meters, meter.address, kTemperatureStart, kTemperatureCount, true);
            break;
        case kEnergyOnlyMeter:
            pollCountedMeter(meters, meter.address, kEnergyOnlyStart, kEnergyOnlyCount, false);
            break;
        case kFullDataMeter:
            pollCountedMeter(meters, meter.address, kFullDataStart, kFullDataCount, true);
            break;
        default:
            break;
    }
}

}  // namespace quorna
