#include "forms/alarms/global_limits_dialog.h"

#include <cmath>

#include "forms/alarms/alarm_windows.h"
#include "forms/field_validation.h"
#include "meters/main_window_fields.h"
#include "core/operator.h"
#include "meters/meter_model.h"
#include "meters/meters.h"

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
    WaitCursor busy(m_meters.op);
    m_address = address;
    m_failure.reset();
    m_firstName = m_meters.fields.firstName;
    m_secondName = m_meters.fields.secondName;
    m_openScale = m_meters.CurrentScale;

    BreakerBlock regs{};
    (void)readAlarmLimits(m_meters, m_address, regs);  // registers 30..37; -1 each on failure
    for (int i = 0; i < kLimitCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const float factor = isVoltage(static_cast<Limit>(i)) ? kVoltsPerCount : m_openScale;
        m_limit[at] = static_cast<float>(regs[at]) * factor;
    }
    m_phaseLossThreshold = regs[kPhaseLossRegister - kGlobalLimitRegister];

    std::int32_t flags = 0;
    (void)readGlobalFlags(m_meters, m_address, flags);  // 0x01010101 on failure
    for (int i = 0; i < kBoxCount; ++i) m_critical[static_cast<std::size_t>(i)] = (flags & kBoxBits[static_cast<std::size_t>(i)]) != 0;

    m_snapshot = {m_limit, m_phaseLossThreshold, flags};
}

GlobalLimitsDialog::Controls GlobalLimitsDialog::showFields() {
    Controls controls;
    controls.texts[kFirstNameField] = m_firstName;
    controls.texts[kSecondNameField] = m_secondName;
    for (int field = kCurrentOverField; field <= kKvaUnderField; ++field) {
        controls.texts[static_cast<std::size_t>(field)] = formatNumber(limit(limitOfField(field)));
    }
    controls.texts[kPhaseLossField] = formatInteger(m_phaseLossThreshold);
    controls.critical = m_critical;
    m_shown = controls.texts;
    m_failure.reset();
    return controls;
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
            message = parseNumberField(text, 0.0F, kMaxLimit, m_limit[static_cast<std::size_t>(limitOfField(field))]);
        }
        if (message) {
            m_failure = FieldFailure{field, std::move(*message)};
        } else {
            m_shown[at] = text;
        }
    }
    return showFailure(m_meters.op, m_failure);
}

std::int32_t GlobalLimitsDialog::criticalFlags() const {
    std::int32_t flags = 0;
    for (int i = 0; i < kBoxCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (m_critical[at]) flags |= kBoxBits[at];
    }
    return flags;
}

float GlobalLimitsDialog::currentScale() const {
    // The polls keep m_meters.CurrentScale up to date for the selected meter only; once the operator has
    // selected another meter, the bound meter's scale is the one it had when the window opened.
    return m_meters.selected.address == m_address ? m_meters.CurrentScale : m_openScale;
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

std::optional<int> GlobalLimitsDialog::ok() {
    if (m_failure) return showFailure(m_meters.op, m_failure);
    {
        WaitCursor busy(m_meters.op);
        const float scale = currentScale();
        for (int i = 0; i < kLimitCount; ++i) {
            const auto at = static_cast<std::size_t>(i);
            if (m_limit[at] == m_snapshot.limit[at]) continue;
            if (const auto value = registerValue(static_cast<Limit>(i), m_limit[at], scale)) {
                (void)writeRegister(m_meters.bus, m_address, kLimitRegister[at], *value);
            }
        }
        if (m_phaseLossThreshold != m_snapshot.phaseLossThreshold) {
            (void)writeRegister(m_meters.bus, m_address, kPhaseLossRegister, m_phaseLossThreshold);
        }
        const std::int32_t flags = criticalFlags();
        if (flags != m_snapshot.flags) (void)writeRegister(m_meters.bus, m_address, kCriticalFlagsRegister, flags);
    }
    m_marks.alarmWindowOpen = false;
    return std::nullopt;
}

void GlobalLimitsDialog::cancel() {
    m_failure.reset();
    m_marks.alarmWindowOpen = false;
}

}  // namespace quorna
