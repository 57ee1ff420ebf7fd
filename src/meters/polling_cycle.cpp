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

}  // namespace

void Meters::showBranch(int address, const std::int32_t* block) {
    MainWindowFields& fields = m_fields;
    const MeterReadout readout = readoutFromBlock(kBranchMeter, block);
    for (std::size_t i = 0; i < readout.breakerAmps.size(); ++i) {
        fields.breaker[i] = formatted("%.3f", readout.breakerAmps[i]);
    }
    showLamps(readout.lamps);
    fields.firstName = readMeterNames(*this, address).first;
    m_op.transferFields();
}

void Meters::showCircuit(int address, int model, const std::int32_t* block) {
    MainWindowFields& fields = m_fields;
    const MeterReadout r = readoutFromBlock(model, block);
    fields.lnAN = twoDecimals(r.lnAN);
    fields.lnBN = twoDecimals(r.lnBN);
    fields.lnCN = twoDecimals(r.lnCN);
    fields.lnAvg = twoDecimals(r.lnAvg);
    fields.llAB = twoDecimals(r.llAB);
    fields.llBC = twoDecimals(r.llBC);
    fields.llCA = twoDecimals(r.llCA);
    fields.llAvg = twoDecimals(r.llAvg);

    setCurrentScale(address, r.currentScale);
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

    showLamps(r.lamps);
    const MeterNames names = readMeterNames(*this, address);
    fields.firstName = names.first;
    fields.secondName = names.second;
    m_op.transferFields();
}

// After a failed poll nothing of the meter is known: every reading empty, every lamp unknown.
// The names and the scale stay as the last good poll left them.
void Meters::showUnknown(int model) {
    MainWindowFields& fields = m_fields;
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
    setAllLampsUnknown();
    m_op.transferFields();
}

// Polls a Branch or Circuit meter. A failed read shows the readout as unknown, except at the fifth
// failure in a row, which tells the operator once and leaves the screen as it was.
void Meters::pollDisplayedMeter(int address, int model) {
    const bool branch = model == kBranchMeter;
    PollBlock block{};
    const ModbusError code =
        readRegisters(m_bus, address, 0, branch ? kBranchPollCount : kCircuitPollCount, block.data());
    if (code == ModbusError::Ok) {
        m_consecutiveFailures = 0;
    } else {
        m_bus.countBadRead(code);
        ++m_consecutiveFailures;
        if (m_consecutiveFailures == kFailuresBeforeMessage) {
            m_op.error(failureText(address, code), kFailureCaption);
            return;
        }
        showUnknown(model);
        return;
    }
    if (branch) {
        showBranch(address, block.data());
    } else {
        showCircuit(address, model, block.data());
    }
}

// Models the window does not display: only the counters change.
void Meters::pollCountedMeter(int address, int start, int count, bool lampsGreen) {
    std::array<std::int32_t, kFullDataCount> values{};
    const ModbusError code = readRegisters(m_bus, address, start, count, values.data());
    if (code == ModbusError::Ok) {
        m_bus.countGoodRead();
    } else {
        m_bus.countBadRead(code);
    }
    if (lampsGreen) setAllLampsGreen();
    m_op.transferFields();
}

void Meters::setAllLamps(Lamp lamp) {
    m_fields.breakerLamp.fill(lamp);
    m_fields.overAmps = lamp;
    m_fields.overVolts = lamp;
    m_op.showLamps();
}

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

void Meters::showAlarmLamps(const std::int32_t* block) { showLamps(lampsFromBlock(m_selected.model, block)); }

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

void Meters::pollSelectedMeter() {
    if (!m_bus.link().portOpen || m_scanning) return;
    const SelectedMeter meter = m_selected;
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
}

}  // namespace quorna
