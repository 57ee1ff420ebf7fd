#include "forms/alarms/breaker_alarm_dialog.h"

#include "forms/alarms/alarm_windows.h"
#include "forms/field_validation.h"
#include "meters/main_window_fields.h"
#include "core/operator.h"

namespace quorna {

BreakerAlarmDialog::BreakerAlarmDialog(Meters& meters, AlarmWindowMarks& marks)
    : m_meters(meters), m_marks(marks), m_pairs(kAlarmThresholdRegister, kWarningThresholdRegister, kMaxPercent) {
    (void)showFields();
}

void BreakerAlarmDialog::open(int address) {
    m_address = address;
    m_failure.reset();
    m_meterName = m_meters.fields().firstName;
    refresh();
}

void BreakerAlarmDialog::refresh() {
    BreakerBlock alarm{};
    BreakerBlock warn{};
    (void)readAlarmLimits(m_meters, m_address, alarm);  // a failed read leaves -1 in its block
    (void)readWarningLimits(m_meters, m_address, warn);
    m_pairs.load(alarm, warn);
}

BreakerAlarmDialog::Texts BreakerAlarmDialog::showFields() {
    Texts texts;
    m_pairs.show(texts.data());
    texts[kWarningPercentField] = formatInteger(m_warningPercent);
    texts[kAlarmPercentField] = formatInteger(m_alarmPercent);
    texts[kMeterNameField] = m_meterName;
    texts[kAlarmHoldoffField] = formatInteger(m_alarmHoldoff);
    texts[kWarningHoldoffField] = formatInteger(m_warningHoldoff);
    m_shown = texts;
    m_failure.reset();
    return texts;
}

std::optional<int> BreakerAlarmDialog::takeFields(const Texts& texts) {
    m_failure = m_pairs.take(texts.data());
    const auto takeInteger = [&](int field, std::int32_t max, std::int32_t& value) {
        if (m_failure || texts[field] == m_shown[field]) return;
        if (auto message = parseIntegerField(texts[field], 0, max, value)) {
            m_failure = FieldFailure{field, std::move(*message)};
        } else {
            m_shown[field] = texts[field];
        }
    };
    takeInteger(kWarningPercentField, kMaxPercent, m_warningPercent);
    takeInteger(kAlarmPercentField, kMaxPercent, m_alarmPercent);
    if (!m_failure && texts[kMeterNameField] != m_shown[kMeterNameField]) {
        if (auto message = checkTextField(texts[kMeterNameField], kMeterNameLength)) {
            m_failure = FieldFailure{kMeterNameField, std::move(*message)};
        } else {
            m_meterName = texts[kMeterNameField];
            m_shown[kMeterNameField] = m_meterName;
        }
    }
    takeInteger(kAlarmHoldoffField, kMaxRegisterValue, m_alarmHoldoff);
    takeInteger(kWarningHoldoffField, kMaxRegisterValue, m_warningHoldoff);
    return showFailure(m_meters.op(), m_failure);
}

std::optional<int> BreakerAlarmDialog::set(GlobalSetting setting) {
    if (m_failure) return showFailure(m_meters.op(), m_failure);
    switch (setting) {
    case GlobalSetting::WarningPercent:
        (void)writeRegister(m_meters.bus(), m_address, kGlobalWarningPercentRegister, m_warningPercent);
        break;
    case GlobalSetting::AlarmPercent:
        (void)writeRegister(m_meters.bus(), m_address, kGlobalAlarmPercentRegister, m_alarmPercent);
        break;
    case GlobalSetting::WarningHoldoff:
        (void)writeRegister(m_meters.bus(), m_address, kWarningHoldoffRegister, m_warningHoldoff);
        break;
    case GlobalSetting::AlarmHoldoff:
        (void)writeRegister(m_meters.bus(), m_address, kAlarmHoldoffRegister, m_alarmHoldoff);
        break;
    }
    refresh();
    return std::nullopt;
}

std::optional<int> BreakerAlarmDialog::ok() {
    if (m_failure) return showFailure(m_meters.op(), m_failure);
    {
        WaitCursor busy(m_meters.op());
        m_pairs.writeChanged(m_meters.bus(), m_address);
    }
    m_marks.alarmWindowOpen = false;
    return std::nullopt;
}

void BreakerAlarmDialog::cancel() {
    m_failure.reset();
    m_marks.alarmWindowOpen = false;
}

}  // namespace quorna
