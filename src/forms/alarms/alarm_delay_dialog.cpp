#include "forms/alarms/alarm_delay_dialog.h"

#include "forms/alarms/alarm_windows.h"
#include "forms/field_validation.h"
#include "meters/main_window_fields.h"
#include "core/operator.h"

namespace quorna {

AlarmDelayDialog::AlarmDelayDialog(Meters& meters, AlarmWindowMarks& marks)
    : m_meters(meters), m_marks(marks), m_pairs(kAlarmDelayFirstRegister, kWarningDelayFirstRegister, kMaxDelay) {}

void AlarmDelayDialog::open(int address) {
    m_address = address;
    m_failure.reset();
    m_meterName = m_meters.fields().firstName;
    BreakerBlock alarm{};
    BreakerBlock warn{};
    (void)readAlarmDelays(m_meters, m_address, alarm);  // a failed read leaves -1 in its block
    (void)readWarningDelays(m_meters, m_address, warn);
    m_pairs.load(alarm, warn);
}

AlarmDelayDialog::Texts AlarmDelayDialog::showFields() {
    Texts texts;
    m_pairs.show(texts.data());
    texts[kMeterNameField] = m_meterName;
    m_shownName = m_meterName;
    m_failure.reset();
    return texts;
}

std::optional<int> AlarmDelayDialog::takeFields(const Texts& texts) {
    m_failure = m_pairs.take(texts.data());
    if (!m_failure && texts[kMeterNameField] != m_shownName) {
        if (auto message = checkTextField(texts[kMeterNameField], kMeterNameLength)) {
            m_failure = FieldFailure{kMeterNameField, std::move(*message)};
        } else {
            m_meterName = texts[kMeterNameField];
            m_shownName = m_meterName;
        }
    }
    return showFailure(m_meters.op(), m_failure);
}

std::optional<int> AlarmDelayDialog::ok() {
    if (m_failure) return showFailure(m_meters.op(), m_failure);
    {
        WaitCursor busy(m_meters.op());
        m_pairs.writeChanged(m_meters.bus(), m_address);
    }
    m_marks.delayWindowOpen = false;
    return std::nullopt;
}

void AlarmDelayDialog::cancel() {
    m_failure.reset();
    m_marks.delayWindowOpen = false;
}

}  // namespace quorna
