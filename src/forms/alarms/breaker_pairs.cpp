#include "forms/alarms/breaker_pairs.h"

#include "forms/field_validation.h"
#include "core/operator.h"

namespace quorna {

std::optional<int> showFailure(Operator& op, const std::optional<FieldFailure>& failure) {
    if (!failure) return std::nullopt;
    op.warning(failure->message);
    return failure->field;
}

BreakerPairs::BreakerPairs(int alarmRegister, int warnRegister, std::int32_t maxValue)
    : m_alarmRegister(alarmRegister), m_warnRegister(warnRegister), m_maxValue(maxValue) {
    show(m_shown.data());
}

void BreakerPairs::load(const BreakerBlock& alarm, const BreakerBlock& warn) {
    m_alarm = alarm;
    m_warn = warn;
    m_snapshot = {alarm, warn};
}

void BreakerPairs::show(std::string* texts) {
    for (int i = 0; i < kBreakerCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        m_shown[at] = formatInteger(m_alarm[at]);
        m_shown[at + kBreakerCount] = formatInteger(m_warn[at]);
    }
    if (texts != m_shown.data()) {
        for (int i = 0; i < kFieldCount; ++i) texts[i] = m_shown[static_cast<std::size_t>(i)];
    }
}

std::optional<FieldFailure> BreakerPairs::take(const std::string* texts) {
    for (int i = 0; i < kFieldCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (texts[i] == m_shown[at]) continue;
        std::int32_t& value = i < kBreakerCount ? m_alarm[at] : m_warn[at - kBreakerCount];
        if (auto message = parseIntegerField(texts[i], 0, m_maxValue, value)) return FieldFailure{i, std::move(*message)};
        m_shown[at] = texts[i];
    }
    return std::nullopt;
}

void BreakerPairs::writeChanged(Bus& bus, int address) const {
    for (int i = 0; i < kBreakerCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (m_alarm[at] != m_snapshot.alarm[at]) (void)writeRegister(bus, address, m_alarmRegister + i, m_alarm[at]);
    }
    for (int i = 0; i < kBreakerCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (m_warn[at] != m_snapshot.warn[at]) (void)writeRegister(bus, address, m_warnRegister + i, m_warn[at]);
    }
}

}  // namespace quorna
