#include "meters/polling_cycle.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
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

void Meters::showBranch(const std::int32_t* block, const std::string& name) {
    MainWindowFields& fields = m_fields;
    const MeterReadout readout = readoutFromBlock(kBranchMeter, block);
    for (std::size_t i = 0; i < readout.breakerAmps.size(); ++i) {
        fields.breaker[i] = formatted("%.3f", readout.breakerAmps[i]);
    }
    showLamps(readout.lamps);
    fields.firstName = name;
    m_op.transferFields();
}

void Meters::showCircuit(int address, int model, const std::int32_t* block, const std::string& first,
                         const std::string& second) {
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
    fields.firstName = first;
    fields.secondName = second;
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

// Sends a read of the poll under way; false when it could not go out (the failure is then
// handled as its answer).
bool Meters::sendPollRead(PollStage stage, int start, int count) {
    m_poll.stage = stage;
    m_poll.count = count;
    const ModbusError code = beginReadRegisters(m_bus, m_poll.address, start, count);
    if (code == ModbusError::Ok) return true;
    return pollAnswered(code);
}

bool Meters::pollStep(std::chrono::milliseconds slice) {
    if (m_poll.stage == PollStage::None) return false;
    std::int32_t* into = m_poll.stage == PollStage::Names ? m_poll.names.data() : m_poll.block.data();
    const std::optional<ModbusError> answer = awaitReadRegisters(m_bus, slice, m_poll.count, into);
    if (!answer) return true;
    return pollAnswered(*answer);
}

// What a read of the poll under way brought; true while the poll goes on.
bool Meters::pollAnswered(ModbusError code) {
    switch (m_poll.stage) {
        case PollStage::Displayed:
            return displayedAnswered(code);
        case PollStage::Names: {
            m_poll.stage = PollStage::None;
            if (m_selected.address != m_poll.address || m_selected.model != m_poll.model || m_scanning) return false;
            const int model = directoryModel(m_directory, m_poll.address);
            const MeterNames names =
                code == ModbusError::Ok ? namesFromSpan(model, m_poll.names.data()) : MeterNames{};
            showDisplayed(names.first, names.second);
            return false;
        }
        case PollStage::Counted:
            m_poll.stage = PollStage::None;
            if (code == ModbusError::Ok) {
                m_bus.countGoodRead();
            } else {
                m_bus.countBadRead(code);
            }
            if (m_poll.lampsGreen) setAllLampsGreen();
            m_op.transferFields();
            return false;
        case PollStage::None:
            break;
    }
    return false;
}

// A Branch or Circuit meter's poll block. A failed read shows the readout as unknown, except at
// the fifth failure in a row, which tells the operator once and leaves the screen as it was. A
// good one goes on to read the meter's names, which the readout shows with it.
bool Meters::displayedAnswered(ModbusError code) {
    // The operator picked another meter, or began a scan, while the answer was awaited: the
    // readout is no longer this meter's.
    if (m_selected.address != m_poll.address || m_selected.model != m_poll.model || m_scanning) {
        m_poll.stage = PollStage::None;
        if (code != ModbusError::Ok) m_bus.countBadRead(code);
        return false;
    }
    if (code != ModbusError::Ok) {
        m_poll.stage = PollStage::None;
        m_bus.countBadRead(code);
        ++m_consecutiveFailures;
        if (m_consecutiveFailures == kFailuresBeforeMessage) {
            m_op.error(failureText(m_poll.address, code), kFailureCaption);
            return false;
        }
        showUnknown(m_poll.model);
        return false;
    }
    m_consecutiveFailures = 0;
    const RegisterSpan names = namesSpanOf(directoryModel(m_directory, m_poll.address));
    if (names.count == 0) {
        m_poll.stage = PollStage::None;
        showDisplayed({}, {});
        return false;
    }
    m_poll.names.fill(0);
    return sendPollRead(PollStage::Names, names.start, names.count);
}

void Meters::showDisplayed(const std::string& first, const std::string& second) {
    if (m_poll.model == kBranchMeter) {
        showBranch(m_poll.block.data(), first);
    } else {
        showCircuit(m_poll.address, m_poll.model, m_poll.block.data(), first, second);
    }
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

bool Meters::beginPoll() {
    static_assert(kBranchPollCount <= kPollBlockCapacity && kCircuitPollCount <= kPollBlockCapacity &&
                  kFullDataCount <= kPollBlockCapacity);
    if (!m_bus.link().portOpen || m_scanning || polling()) return false;
    const SelectedMeter meter = m_selected;
    m_poll.address = meter.address;
    m_poll.model = meter.model;
    m_poll.block.fill(0);
    switch (meter.model) {
        case kNoModel:
            setAllLampsGreen();
            return false;
        case kBranchMeter:
        case kCircuitMeter8:
        case kCircuitMeter6:
            return sendPollRead(PollStage::Displayed, 0, meter.model == kBranchMeter ? kBranchPollCount : kCircuitPollCount);
        case kTemperatureMeter:
            m_poll.lampsGreen = true;
            return sendPollRead(PollStage::Counted, kTemperatureStart, kTemperatureCount);
        case kEnergyOnlyMeter:
            m_poll.lampsGreen = false;
            return sendPollRead(PollStage::Counted, kEnergyOnlyStart, kEnergyOnlyCount);
        case kFullDataMeter:
            m_poll.lampsGreen = true;
            return sendPollRead(PollStage::Counted, kFullDataStart, kFullDataCount);
        default:
            return false;
    }
}

}  // namespace quorna
