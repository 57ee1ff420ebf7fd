#include "alarms/breaker_alarm_dialog.h"

#include "alarms/alarm_windows.h"
#include "app/field_validation.h"
#include "app/main_window_fields.h"
#include "app/operator.h"

namespace quorna {

BreakerAlarmDialog::BreakerAlarmDialog() : m_pairs(kAlarmThresholdRegister, kWarningThresholdRegister, kMaxPercent) {
    (void)showFields();
}

void BreakerAlarmDialog::open(int address) {
    m_address = address;
    m_failure.reset();
    m_meterName = mainFields().firstName;
    refresh();
}

void BreakerAlarmDialog::refresh() {
    BreakerBlock alarm{};
    BreakerBlock warn{};
    (void)readAlarmLimits(serialLink(), m_address, alarm);  // a failed read leaves -1 in its block
    (void)readWarningLimits(serialLink(), m_address, warn);
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
    return showFailure(m_failure);
}

std::optional<int> BreakerAlarmDialog::set(GlobalSetting setting) {
    if (m_failure) return showFailure(m_failure);
    switch (setting) {
    case GlobalSetting::WarningPercent:
        (void)writeRegister(serialLink(), m_address, kGlobalWarningPercentRegister, m_warningPercent);
        break;
    case GlobalSetting::AlarmPercent:
        (void)writeRegister(serialLink(), m_address, kGlobalAlarmPercentRegister, m_alarmPercent);
        break;
    case GlobalSetting::WarningHoldoff:
        (void)writeRegister(serialLink(), m_address, kWarningHoldoffRegister, m_warningHoldoff);
        break;
    case GlobalSetting::AlarmHoldoff:
        (void)writeRegister(serialLink(), m_address, kAlarmHoldoffRegister, m_alarmHoldoff);
        break;
    }
    refresh();
    return std::nullopt;
}

std::optional<int> BreakerAlarmDialog::ok() {
    if (m_failure) return showFailure(m_failure);
    {
        WaitCursor busy;
        m_pairs.writeChanged(serialLink(), m_address);
    }
    alarmWindowMarks().alarmWindowOpen = false;
    return std::nullopt;
}

void BreakerAlarmDialog::cancel() {
    m_failure.reset();
    alarmWindowMarks().alarmWindowOpen = false;
}

}  // namespace quorna
