#include "meters/polling_cycle.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "bus/modbus_master.h"
#include "meters/register_map.h"
#include "meters/meter_model.h"

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

void showLamps(Meters& meters, const MeterLamps& lamps) {
    MainWindowFields& fields = meters.fields;
    fields.breakerLamp = lamps.breaker;
    fields.overAmps = lamps.overAmps;
    fields.overVolts = lamps.overVolts;
    meters.op.showLamps();
}

void showBranch(Meters& meters, int address, const PollBlock& block) {
    MainWindowFields& fields = meters.fields;
    const MeterReadout readout = readoutFromBlock(kBranchMeter, block.data());
    for (std::size_t i = 0; i < readout.breakerAmps.size(); ++i) {
        fields.breaker[i] = formatted("%.3f", readout.breakerAmps[i]);
    }
    showLamps(meters, readout.lamps);
    fields.firstName = readMeterNames(meters, address).first;
    meters.op.transferFields();
}

void showCircuit(Meters& meters, int address, int model, const PollBlock& block) {
    MainWindowFields& fields = meters.fields;
    const MeterReadout r = readoutFromBlock(model, block.data());
    fields.lnAN = twoDecimals(r.lnAN);
    fields.lnBN = twoDecimals(r.lnBN);
    fields.lnCN = twoDecimals(r.lnCN);
    fields.lnAvg = twoDecimals(r.lnAvg);
    fields.llAB = twoDecimals(r.llAB);
    fields.llBC = twoDecimals(r.llBC);
    fields.llCA = twoDecimals(r.llCA);
    fields.llAvg = twoDecimals(r.llAvg);

    meters.CurrentScale = r.currentScale;
    meters.currentScaleAddress = address;
    // A range of 6000 or more gives no scale: the currents and powers are not known.
    const auto scaled = [](double value) { return std::isnan(value) ? std::string() : twoDecimals(value); };
    fields.currentA = scaled(r.currentA);
    fields.currentB = scaled(r.currentB);
    fields.currentC = scaled(r.currentC);
    fields.currentAvg = scaled(r.currentAvg);
    fields.currentN = model == kCircuitMeter6 ? scaled(r.currentN) : "N/A";

    fields.kW = scaled(r.kW);
    fields.kVAr = scaled(r.kVAr);
    fields.kVA = scaled(r.kVA);
    fields.pf = twoDecimals(r.pf);

    showLamps(meters, r.lamps);
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
        meters.bus.countBadRead(code);
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
    if (code == ModbusError::Ok) {
        meters.bus.countGoodRead();
    } else {
        meters.bus.countBadRead(code);
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

MeterLamps lampsFromBlock(int model, const std::int32_t* block) {
    MeterLamps lamps;
    lamps.breaker.fill(Lamp::Green);
    if (model == kBranchMeter) {
        const auto summary = static_cast<std::uint32_t>(block[kBranchStatusSummary]);
        // Registers 43 to 45 mark warnings, 46 to 48 alarms; the later ones win.
        for (int n = 0; n < kSummaryRegisters; ++n) {
            if ((summary & (1U << n)) == 0) continue;
            const auto bits = static_cast<std::uint32_t>(block[kBranchFirstAlarmBits + n]);
            const Lamp lamp = n < 3 ? Lamp::Yellow : Lamp::Red;
            const int firstBreaker = (n % 3) * kBreakersPerRegister;
            for (int k = 0; k < kBreakersPerRegister && firstBreaker + k < kBreakerCount; ++k) {
                if ((bits & (1U << k)) != 0) lamps.breaker[static_cast<std::size_t>(firstBreaker + k)] = lamp;
            }
        }
    } else if (isCircuitModel(model)) {
        const auto bits = static_cast<std::uint32_t>(block[kCircuitAlarmBits]);
        if ((bits & kCircuitOverAmpsBit) != 0) lamps.overAmps = Lamp::Red;
        if ((bits & kCircuitOverVoltsBit) != 0) lamps.overVolts = Lamp::Red;
    }
    return lamps;
}

void showAlarmLamps(Meters& meters, const std::int32_t* block) {
    showLamps(meters, lampsFromBlock(meters.selected.model, block));
}

int pollCountOf(int model) {
    if (model == kBranchMeter) return kBranchPollCount;
    if (isCircuitModel(model)) return kCircuitPollCount;
    return 0;
}

MeterReadout readoutFromBlock(int model, const std::int32_t* block) {
    MeterReadout r;
    r.model = model;
    const auto reg = [block](int index) {
        return static_cast<double>(static_cast<std::uint32_t>(block[index]) & 0xFFFFU);
    };
    if (model == kBranchMeter) {
        for (int i = 0; i < kBreakerCount; ++i) {
            r.breakerAmps[static_cast<std::size_t>(i)] = reg(i) * kBreakerAmpsPerCount;
        }
    } else if (isCircuitModel(model)) {
        r.lnAN = reg(kCircuitLnAN) * kVoltsPerCount;
        r.lnBN = reg(kCircuitLnBN) * kVoltsPerCount;
        r.lnCN = reg(kCircuitLnCN) * kVoltsPerCount;
        r.lnAvg = reg(kCircuitLnAvg) * kVoltsPerCount;
        r.llAB = reg(kCircuitLlAB) * kVoltsPerCount;
        r.llBC = reg(kCircuitLlBC) * kVoltsPerCount;
        r.llCA = reg(kCircuitLlCA) * kVoltsPerCount;
        r.llAvg = reg(kCircuitLlAvg) * kVoltsPerCount;
        r.currentScale = currentScaleFor(block[kCircuitRangeRegister]);
        const double scale = r.currentScale;
        const double unknown = std::numeric_limits<double>::quiet_NaN();
        const auto scaled = [scale, unknown](double counts) { return scale == 0.0 ? unknown : counts * scale; };
        r.currentA = scaled(reg(kCircuitCurrentA));
        r.currentB = scaled(reg(kCircuitCurrentB));
        r.currentC = scaled(reg(kCircuitCurrentC));
        r.currentAvg = scaled(reg(kCircuitCurrentAvg));
        r.currentN = model == kCircuitMeter6 ? scaled(reg(kCircuitCurrentN)) : unknown;
        r.kW = scaled(reg(kCircuitKw));
        r.kVAr = scaled(reg(kCircuitKvar));
        r.kVA = scaled(reg(kCircuitKva));
        r.pf = reg(kCircuitPf) * kPowerFactorPerCount;
    }
    r.lamps = lampsFromBlock(model, block);
    return r;
}

void pollSelectedMeter(Meters& meters) {
    if (!meters.bus.link().portOpen || meters.scanning) return;
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
