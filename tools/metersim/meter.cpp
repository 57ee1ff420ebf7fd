#include "meter.h"

#include "register_map.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace quorna::metersim {

namespace {

constexpr double kWalkStep = 0.25;  // largest random-walk step per second, relative to the swing

}  // namespace

bool isKnownModel(int model)
{
    switch (model) {
    case kBranchModel:
    case kCircuit8Model:
    case kCircuit6Model:
    case kTemperatureModel:
    case kEnergyOnlyModel:
    case kFullDataModel:
        return true;
    default:
        return false;
    }
}

bool isCircuitModel(int model)
{
    return model == kCircuit8Model || model == kCircuit6Model;
}

std::vector<uint16_t> packText(std::string_view text, int registers)
{
    std::vector<uint16_t> packed(static_cast<std::size_t>(registers), 0);
    for (std::size_t i = 0; i < text.size() && i < packed.size() * 2; ++i) {
        const auto byte = static_cast<uint16_t>(static_cast<unsigned char>(text[i]));
        packed[i / 2] = static_cast<uint16_t>(packed[i / 2] | (i % 2 == 0 ? byte << 8 : byte));
    }
    return packed;
}

bool Meter::holds(int reg) const
{
    return reg >= 0 && static_cast<std::size_t>(reg) < m_held.size() && m_held[static_cast<std::size_t>(reg)];
}

bool Meter::holdsRange(int start, int count) const
{
    for (int reg = start; reg < start + count; ++reg)
        if (!holds(reg))
            return false;
    return true;
}

std::optional<std::vector<uint16_t>> Meter::read(int start, int count) const
{
    if (!holdsRange(start, count))
        return std::nullopt;
    return std::vector<uint16_t>(m_values.begin() + start, m_values.begin() + start + count);
}

void Meter::hold(int first, int last)
{
    if (static_cast<std::size_t>(last) >= m_values.size()) {
        m_values.resize(static_cast<std::size_t>(last) + 1, 0);
        m_held.resize(static_cast<std::size_t>(last) + 1, false);
    }
    for (int reg = first; reg <= last; ++reg)
        m_held[static_cast<std::size_t>(reg)] = true;
}

void Meter::put(int reg, uint16_t value)
{
    m_values.at(static_cast<std::size_t>(reg)) = value;
}

uint16_t Meter::value(int reg) const
{
    return m_values.at(static_cast<std::size_t>(reg));
}

void Meter::putFloat(int reg, float value)
{
    const auto bits = std::bit_cast<uint32_t>(value);
    put(reg, static_cast<uint16_t>(bits >> 16));
    put(reg + 1, static_cast<uint16_t>(bits & 0xFFFFu));
}

float Meter::floatValue(int reg) const
{
    const uint32_t bits = (static_cast<uint32_t>(value(reg)) << 16) | value(reg + 1);
    return std::bit_cast<float>(bits);
}

void Meter::putText(int reg, int registers, std::string_view text)
{
    const auto packed = packText(text, registers);
    for (int i = 0; i < registers; ++i)
        put(reg + i, packed[static_cast<std::size_t>(i)]);
}

bool Meter::writeFromBus(int reg, uint16_t value)
{
    if (!holds(reg))
        return false;
    if (m_model == kBranchModel) {
        auto fanOut = [this](int first, uint16_t v) {
            for (int i = 0; i < regs::kBreakers; ++i)
                put(first + i, v);
        };
        if (reg == regs::kBranchGlobalRating)
            fanOut(regs::kBranchRatings, value);
        else if (reg == regs::kBranchGlobalWarnPercent)
            fanOut(regs::kBranchWarnLimits, value);
        else if (reg == regs::kBranchGlobalAlarmPercent)
            fanOut(regs::kBranchAlarmLimits, value);
    }
    if (isCircuitModel(m_model) && reg == regs::kCircuitMeterEnable)
        value = static_cast<uint16_t>((value & ~regs::kMeterEnableLocked) | (this->value(reg) & regs::kMeterEnableLocked));
    put(reg, value);
    rebaseLive(reg, reg);
    if (m_model == kBranchModel && reg >= regs::kBranchFirstAlarm && reg <= regs::kBranchStatusLast)
        updateBranchSummary();
    return true;
}

bool Meter::store(int reg, std::span<const uint16_t> values)
{
    const int count = static_cast<int>(values.size());
    if (count == 0 || !holdsRange(reg, count))
        return false;
    for (int i = 0; i < count; ++i)
        put(reg + i, values[static_cast<std::size_t>(i)]);
    rebaseLive(reg, reg + count - 1);
    const int last = reg + count - 1;
    const bool coversStatus = reg <= regs::kBranchStatusLast && last >= regs::kBranchFirstAlarm;
    const bool coversSummary = reg <= regs::kBranchStatusSummary && last >= regs::kBranchStatusSummary;
    if (m_model == kBranchModel && coversStatus && !coversSummary)
        updateBranchSummary();
    return true;
}

bool Meter::storeFloat(int reg, float value)
{
    const auto bits = std::bit_cast<uint32_t>(value);
    const uint16_t words[2] = {static_cast<uint16_t>(bits >> 16), static_cast<uint16_t>(bits & 0xFFFFu)};
    return store(reg, words);
}

void Meter::updateBranchSummary()
{
    uint16_t summary = 0;
    for (int n = 0; n <= regs::kBranchStatusLast - regs::kBranchFirstAlarm; ++n)
        if (value(regs::kBranchFirstAlarm + n) != 0)
            summary = static_cast<uint16_t>(summary | (1u << n));
    put(regs::kBranchStatusSummary, summary);
}

void Meter::rebaseLive(int first, int last)
{
    for (auto& live : m_live) {
        const int liveLast = live.isFloat ? live.reg + 1 : live.reg;
        if (live.reg > last || liveLast < first)
            continue;
        live.base = live.isFloat ? static_cast<double>(floatValue(live.reg)) : static_cast<double>(value(live.reg));
        live.walk = 0.0;
    }
}

void Meter::tick(double seconds, std::mt19937& rng)
{
    if (!m_drift)
        return;
    std::uniform_real_distribution<double> step(-kWalkStep, kWalkStep);
    const double scale = std::sqrt(std::max(seconds, 0.0));
    for (auto& live : m_live) {
        live.walk = std::clamp(live.walk + step(rng) * scale, -1.0, 1.0);
        const double current = live.base * (1.0 + live.swing * live.walk);
        if (live.isFloat)
            putFloat(live.reg, static_cast<float>(current));
        else
            put(live.reg, static_cast<uint16_t>(std::clamp(std::lround(current), 0L, 65535L)));
    }
    if (m_model == kEnergyOnlyModel || m_model == kFullDataModel) {
        // The energy register counts up with the power register that follows it.
        const double kwh = floatValue(regs::kEnergyFirst) + floatValue(regs::kEnergyFirst + 2) * seconds / 3600.0;
        putFloat(regs::kEnergyFirst, static_cast<float>(kwh));
    }
    followStatus();
}

}  // namespace quorna::metersim
