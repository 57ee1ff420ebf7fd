#include "forms/alarms/global_limits_dialog.h"

#include <cmath>

#include "forms/alarms/alarm_windows.h"
#include "forms/field_validation.h"
#include "meters/main_window_fields.h"
#include "core/operator.h"
#include "meters/meter_model.h"
#include "meters/meters.h"
#include "meters/register_map.h"

namespace quorna {
namespace {

constexpr std::array<int, GlobalLimitsDialog::kLimitCount> kLimitRegister = {
    kVoltageOverRegister, kVoltageUnderRegister, kCurrentOverRegister,
    kCurrentUnderRegister, kKvaOverRegister, kKvaUnderRegister};

constexpr std::array<std::int32_t, GlobalLimitsDialog::kBoxCount> kBoxBits = {
    kCurrentOverCritical, kCurrentUnderCritical, kKvaOverCritical, kKvaUnderCritical,
    kVoltageOverCritical, kVoltageUnderCritical, kPhaseLossCritical};

// The limit each text field of the take holds (the names hold none).
GlobalLimitsDialog::Limit limitOfField(int field) {
    switch (field) {
    case GlobalLimitsDialog::kCurrentOverField: return GlobalLimitsDialog::kCurrentOver;
    case GlobalLimitsDialog::kCurrentUnderField: return GlobalLimitsDialog::kCurrentUnder;
    case GlobalLimitsDialog::kVoltageOverField: return GlobalLimitsDialog::kVoltageOver;
    case GlobalLimitsDialog::kVoltageUnderField: return GlobalLimitsDialog::kVoltageUnder;
    case GlobalLimitsDialog::kKvaOverField: return GlobalLimitsDialog::kKvaOver;
    default: return GlobalLimitsDialog::kKvaUnder;
    }
}

bool isVoltage(GlobalLimitsDialog::Limit which) {
    return which == GlobalLimitsDialog::kVoltageOver || which == GlobalLimitsDialog::kVoltageUnder;
}

}  // namespace

GlobalLimitsDialog::GlobalLimitsDialog(Meters& meters, AlarmWindowMarks& marks) : m_meters(meters), m_marks(marks) {
    (void)showFields();
}

void GlobalLimitsDialog::open(int address) {
    WaitCursor busy(m_meters.op());
    m_address = address;
    m_failure.reset();
    m_firstName = m_meters.fields().firstName;
    m_secondName = m_meters.fields().secondName;
    m_openScale.reset();
    if (m_meters.currentScaleAddress() == m_address) {
        m_openScale = m_meters.currentScale();
    }

    BreakerBlock regs{};
    (void)readAlarmLimits(m_meters, m_address, regs);  // registers 30..37; -1 each on failure
    if (!m_openScale) {
        // No good poll of this meter has given its scale yet: its CT size tells it.
        std::int32_t range = 0;
        if (readRegisters(m_meters.bus(), m_address, kCircuitRangeRegister, 1, &range) == ModbusError::Ok) {
            m_openScale = currentScaleFor(range);
        }
    }
    for (int i = 0; i < kLimitCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const float factor = isVoltage(static_cast<Limit>(i)) ? kVoltsPerCount : m_openScale.value_or(0.0F);
        m_limit[at] = static_cast<float>(regs[at]) * factor;
    }
    m_phaseLossThreshold = regs[kPhaseLossRegister - kGlobalLimitRegister];
    for (int i = 0; i < kLimitCount; ++i) {
        m_limitKnown[static_cast<std::size_t>(i)] = isVoltage(static_cast<Limit>(i)) || m_openScale.value_or(0.0F) != 0.0F;
    }
    m_entered.fill(false);

    std::int32_t flags = 0;
    // A failed read leaves 0x01010101, which stands for no boxes the window shows checked: the
    // boxes start unchecked and the word is never written back.
    m_flagsKnown = readGlobalFlags(m_meters, m_address, flags) == ModbusError::Ok;
    for (int i = 0; i < kBoxCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        m_critical[at] = m_flagsKnown && (flags & kBoxBits[at]) != 0;
    }
    m_shownCritical = m_critical;

    m_snapshot = {m_limit, m_phaseLossThreshold, flags};
}

GlobalLimitsDialog::Controls GlobalLimitsDialog::showFields() {
    Controls controls;
    controls.texts[kFirstNameField] = m_firstName;
    controls.texts[kSecondNameField] = m_secondName;
    for (int field = kCurrentOverField; field <= kKvaUnderField; ++field) {
        const Limit which = limitOfField(field);
        // Current and KVA limits without a scale have no value to show.
        controls.texts[static_cast<std::size_t>(field)] =
            m_limitKnown[static_cast<std::size_t>(which)] ? formatNumber(limit(which)) : std::string();
    }
    controls.texts[kPhaseLossField] = formatInteger(m_phaseLossThreshold);
    controls.critical = m_critical;
    m_shown = controls.texts;
    m_failure.reset();
    return controls;
}

std::optional<float> GlobalLimitsDialog::knownScale() const {
    // The polls keep the selected meter's scale up to date, from good polls only; once the operator
    // has selected another meter, the bound meter's scale is the one known when the window opened.
    if (m_meters.selected().address == m_address && m_meters.currentScaleAddress() == m_address) {
        return m_meters.currentScale();
    }
    return m_openScale;
}

std::optional<std::string> GlobalLimitsDialog::checkLimit(Limit which, const std::string& text, float& value) const {
    float taken = 0.0F;
    std::optional<std::string> message = parseNumberField(text, 0.0F, kMaxLimit, taken);
    const std::optional<float> scale = knownScale();
    const std::optional<double> largest = largestValue(which, scale.value_or(0.0F));
    if (message && *message != kNotANumber && largest) return numberRangeMessage(0.0, *largest);
    if (message) return message;
    // A value whose register value does not fit is refused with the range that fits.
    if (largest && !registerValue(which, taken, *scale)) return numberRangeMessage(0.0, *largest);
    value = taken;
    return std::nullopt;
}

std::optional<int> GlobalLimitsDialog::takeFields(const Controls& controls) {
    m_critical = controls.critical;
    m_failure.reset();
    for (int field = 0; field < kFieldCount && !m_failure; ++field) {
        const auto at = static_cast<std::size_t>(field);
        const std::string& text = controls.texts[at];
        if (text == m_shown[at]) continue;
        std::optional<std::string> message;
        if (field == kFirstNameField || field == kSecondNameField) {
            message = checkTextField(text, kMeterNameLength);
            if (!message) (field == kFirstNameField ? m_firstName : m_secondName) = text;
        } else if (field == kPhaseLossField) {
            message = parseIntegerField(text, 0, kMaxRegisterValue, m_phaseLossThreshold);
        } else {
            const Limit which = limitOfField(field);
            message = checkLimit(which, text, m_limit[static_cast<std::size_t>(which)]);
            if (!message) m_entered[static_cast<std::size_t>(which)] = true;
        }
        if (message) {
            m_failure = FieldFailure{field, std::move(*message)};
        } else {
            m_shown[at] = text;
        }
    }
    return showFailure(m_meters.op(), m_failure);
}

std::int32_t GlobalLimitsDialog::criticalFlags() const {
    std::int32_t flags = 0;
    for (int i = 0; i < kBoxCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (m_critical[at]) flags |= kBoxBits[at];
    }
    return flags;
}

std::optional<int> GlobalLimitsDialog::registerValue(Limit which, float value, float scale) {
    double converted = 0.0;
    if (isVoltage(which)) {
        converted = static_cast<double>(value) * 100.0;
    } else {
        if (scale == 0.0F) return std::nullopt;
        converted = static_cast<double>(value) / static_cast<double>(scale);
    }
    if (!std::isfinite(converted)) return std::nullopt;
    const double rounded = std::round(converted);
    if (rounded < 0.0 || rounded > static_cast<double>(kMaxRegisterValue)) return std::nullopt;
    return static_cast<int>(rounded);
}

std::optional<double> GlobalLimitsDialog::largestValue(Limit which, float scale) {
    if (isVoltage(which)) return static_cast<double>(kMaxRegisterValue) / 100.0;
    if (scale == 0.0F) return std::nullopt;
    return static_cast<double>(kMaxRegisterValue) * static_cast<double>(scale);
}

bool GlobalLimitsDialog::changed(Limit which) const {
    const auto at = static_cast<std::size_t>(which);
    // A limit shown empty (no scale) has no value to compare with: whatever was entered is sent.
    return m_limitKnown[at] ? m_limit[at] != m_snapshot.limit[at] : m_entered[at];
}

std::optional<int> GlobalLimitsDialog::ok() {
    if (m_failure) return showFailure(m_meters.op(), m_failure);
    {
        WaitCursor busy(m_meters.op());
        std::optional<int> scaled;  // the first current or KVA field whose limit is to be written
        for (int field = kCurrentOverField; field <= kKvaUnderField && !scaled; ++field) {
            const Limit which = limitOfField(field);
            if (!isVoltage(which) && changed(which)) scaled = field;
        }
        std::optional<float> scale = knownScale();
        if (scaled && (!scale || *scale == 0.0F)) {
            // Read the CT size again: the meter may answer now.
            std::int32_t range = 0;
            if (readRegisters(m_meters.bus(), m_address, kCircuitRangeRegister, 1, &range) == ModbusError::Ok) {
                scale = currentScaleFor(range);
                m_openScale = scale;
            }
        }
        if (scaled && (!scale || *scale == 0.0F)) {
            m_meters.op().error(kUnknownScaleMessage);
            return scaled;
        }

        // Every value is converted before anything is sent: one that does not fit sends nothing.
        std::array<std::optional<int>, kLimitCount> values{};
        for (int field = kCurrentOverField; field <= kKvaUnderField; ++field) {
            const Limit which = limitOfField(field);
            const auto at = static_cast<std::size_t>(which);
            if (!changed(which)) continue;
            values[at] = registerValue(which, m_limit[at], scale.value_or(0.0F));
            if (!values[at]) {
                m_failure = FieldFailure{field, numberRangeMessage(0.0, *largestValue(which, scale.value_or(0.0F)))};
                return showFailure(m_meters.op(), m_failure);
            }
        }
        for (int i = 0; i < kLimitCount; ++i) {
            const auto at = static_cast<std::size_t>(i);
            if (values[at]) (void)writeRegister(m_meters.bus(), m_address, kLimitRegister[at], *values[at]);
        }
        if (m_phaseLossThreshold != m_snapshot.phaseLossThreshold) {
            (void)writeRegister(m_meters.bus(), m_address, kPhaseLossRegister, m_phaseLossThreshold);
        }
        if (m_flagsKnown && m_critical != m_shownCritical) {
            std::int32_t flags = m_snapshot.flags;
            for (int i = 0; i < kBoxCount; ++i) {
                const auto at = static_cast<std::size_t>(i);
                if (m_critical[at] == m_shownCritical[at]) continue;
                flags = m_critical[at] ? (flags | kBoxBits[at]) : (flags & ~kBoxBits[at]);
            }
            if (flags != m_snapshot.flags) (void)writeRegister(m_meters.bus(), m_address, kCriticalFlagsRegister, flags);
        }
    }
    m_marks.alarmWindowOpen = false;
    return std::nullopt;
}

void GlobalLimitsDialog::cancel() {
    m_failure.reset();
    m_marks.alarmWindowOpen = false;
}

}  // namespace quorna
