// The realistic contents of each meter model, and what each model derives from its
// measured values.
#include "meter.h"

#include "register_map.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace quorna::metersim {

namespace {

// Slave ID bytes of the models the program tells apart by this byte, and of the others.
constexpr uint8_t kTemperatureSlaveId = 0x58;
constexpr uint8_t kEnergyOnlySlaveId = 0x63;
constexpr uint8_t kFullDataSlaveId = 0x64;

constexpr uint16_t kDefaultRating = 20;        // A
constexpr uint16_t kDefaultWarnPercent = 70;
constexpr uint16_t kDefaultAlarmPercent = 80;
constexpr uint16_t kDefaultWarnHoldoff = 0;    // s
constexpr uint16_t kDefaultAlarmHoldoff = 10;  // s
constexpr uint16_t kDefaultWarnDelay = 5;      // s
constexpr uint16_t kDefaultAlarmDelay = 10;    // s
// One breaker runs close to its warning level so that drift brings its yellow lamp on and off.
constexpr int kBusyBreaker = 40;
constexpr uint16_t kBusyBreakerCurrent = 13800;  // mA, just under 70 % of 20 A
constexpr double kBranchSwing = 0.05;

constexpr uint16_t kCtSize = 100;              // selects a current scale of 0.01
constexpr double kCtScale = 0.01;
constexpr double kSqrt3 = 1.7320508075688772;
constexpr double kPowerFactor = 0.95;

constexpr uint16_t kMilliampsPerAmpPerPercent = 10;  // rating (A) × % × 10 = mA

uint16_t branchBaseCurrent(int address, int breaker)
{
    if (breaker == kBusyBreaker)
        return kBusyBreakerCurrent;
    // 1.5 A to 8.5 A, different for every breaker and meter but the same on every run.
    return static_cast<uint16_t>(1500 + (breaker * 7919 + address * 104729) % 7000);
}

void setUpBranch(Meter& meter)
{
    using namespace regs;
    meter.setDeviceText("Tamsa Branch Circuit Monitor, 42 breakers");
    meter.setSlaveId(static_cast<uint8_t>(kBranchModel));
    meter.hold(0, kBranchLast);
    for (int i = 0; i < kBreakers; ++i) {
        meter.put(kBranchCurrents + i, branchBaseCurrent(meter.address(), i + 1));
        meter.addLive({kBranchCurrents + i, false, static_cast<double>(meter.value(kBranchCurrents + i)), kBranchSwing, 0.0});
        meter.put(kBranchRatings + i, kDefaultRating);
        meter.put(kBranchWarnLimits + i, kDefaultWarnPercent);
        meter.put(kBranchAlarmLimits + i, kDefaultAlarmPercent);
        meter.put(kWarnDelays + i, kDefaultWarnDelay);
        meter.put(kAlarmDelays + i, kDefaultAlarmDelay);
    }
    meter.put(kBranchFirmware, 3);
    meter.put(kBranchFirmware + 1, 12);
    const uint32_t serial = 1000000u + static_cast<uint32_t>(meter.address());
    meter.put(kBranchSerial, static_cast<uint16_t>(serial >> 16));
    meter.put(kBranchSerial + 1, static_cast<uint16_t>(serial & 0xFFFFu));
    meter.put(kBranchGlobalRating, kDefaultRating);
    meter.put(kBranchGlobalWarnPercent, kDefaultWarnPercent);
    meter.put(kBranchGlobalAlarmPercent, kDefaultAlarmPercent);
    meter.put(kBranchWarnHoldoff, kDefaultWarnHoldoff);
    meter.put(kBranchAlarmHoldoff, kDefaultAlarmHoldoff);
    meter.putText(kBranchName, 2, "PNL1");
}

void setUpCircuit(Meter& meter)
{
    using namespace regs;
    const bool eightMeters = meter.model() == kCircuit8Model;
    meter.setDeviceText(eightMeters ? "Tamsa Circuit Meter 8, Rev B" : "Tamsa Circuit Meter 6, Rev B");
    meter.setSlaveId(static_cast<uint8_t>(meter.model()));
    meter.hold(0, kCircuitPollLast);
    meter.hold(kWarnDelays, kAlarmDelays + kBreakers - 1);

    constexpr std::array<uint16_t, 3> volts = {12010, 11980, 12040};  // 0.01 V
    constexpr std::array<uint16_t, 3> amps = {4520, 4380, 4710};      // 0.01 A
    for (int phase = 0; phase < 3; ++phase) {
        meter.put(kCircuitVoltsLn + phase, volts[static_cast<std::size_t>(phase)]);
        meter.addLive({kCircuitVoltsLn + phase, false, static_cast<double>(volts[static_cast<std::size_t>(phase)]), 0.01, 0.0});
        meter.put(kCircuitCurrents + phase, amps[static_cast<std::size_t>(phase)]);
        meter.addLive({kCircuitCurrents + phase, false, static_cast<double>(amps[static_cast<std::size_t>(phase)]), 0.08, 0.0});
    }
    meter.put(kCircuitNeutralCurrent, eightMeters ? 0 : 310);
    if (!eightMeters)
        meter.addLive({kCircuitNeutralCurrent, false, 310, 0.2, 0.0});
    meter.put(kCircuitCtSize, kCtSize);
    meter.put(kCircuitVoltageOver, 13200);
    meter.put(kCircuitVoltageUnder, 10800);
    meter.put(kCircuitCurrentOver, 8000);
    meter.put(kCircuitCurrentUnder, 0);
    meter.put(kCircuitKvaOver, 3000);
    meter.put(kCircuitKvaUnder, 0);
    meter.put(kCircuitPhaseLoss, 90);
    meter.putText(kCircuitFirstName, 2, "MAIN");
    meter.putText(kCircuitSecondName, 2, "BRD1");
    meter.put(kFirmware, 2);
    meter.put(kFirmware + 1, 7);
    const uint32_t serial = 2000000u + static_cast<uint32_t>(meter.address());
    meter.put(kCircuitSerial, static_cast<uint16_t>(serial >> 16));
    meter.put(kCircuitSerial + 1, static_cast<uint16_t>(serial & 0xFFFFu));
    meter.put(kCircuitMeterEnable, eightMeters ? 0x0007 : 0x0003);
    meter.put(kCircuitCriticalFlags, kAlarmCurrentOver | kAlarmVoltageOver);
    for (int i = 0; i < kBreakers; ++i) {
        meter.put(kWarnDelays + i, kDefaultWarnDelay);
        meter.put(kAlarmDelays + i, kDefaultAlarmDelay);
    }
}

void setUpSensor(Meter& meter)
{
    using namespace regs;
    meter.hold(kFirmware, kFirmware + 1);
    meter.put(kFirmware, 1);
    meter.put(kFirmware + 1, 4);
    switch (meter.model()) {
    case kTemperatureModel:
        meter.setDeviceText("Tamsa Temperature Sensor");
        meter.setSlaveId(kTemperatureSlaveId);
        meter.hold(kTemperature, kTemperature + 1);
        meter.putFloat(kTemperature, 23.5f);
        meter.addLive({kTemperature, true, 23.5, 0.02, 0.0});
        break;
    case kEnergyOnlyModel:
        meter.setDeviceText("Tamsa Energy-Only Meter");
        meter.setSlaveId(kEnergyOnlySlaveId);
        meter.hold(kEnergyFirst, kEnergyOnlyLast);
        meter.putFloat(kEnergyFirst, 12345.6f);      // kWh
        meter.putFloat(kEnergyFirst + 2, 4.2f);      // kW
        meter.addLive({kEnergyFirst + 2, true, 4.2, 0.1, 0.0});
        break;
    default: {
        meter.setDeviceText("Tamsa Full-Data Meter");
        meter.setSlaveId(kFullDataSlaveId);
        meter.hold(kEnergyFirst, kFullDataLast);
        // kWh, kW, kVAr, kVA, PF, Hz, then volts and amps per phase, then further values.
        constexpr std::array<float, 26> values = {
            48210.5f, 15.2f, 5.0f, 16.0f, 0.95f, 60.0f, 120.1f, 119.8f, 120.4f, 208.0f, 207.5f, 208.6f, 45.2f,
            43.8f,    47.1f, 3.1f, 5.1f,  5.0f,  5.1f,  1.6f,   1.7f,   1.7f,   0.0f,   2.4f,   230.5f, 61.3f};
        for (std::size_t i = 0; i < values.size(); ++i) {
            const int reg = kEnergyFirst + 2 * static_cast<int>(i);
            meter.putFloat(reg, values[i]);
            if (i > 0)
                meter.addLive({reg, true, values[i], 0.01, 0.0});
        }
        break;
    }
    }
}

uint16_t toRegister(double value)
{
    return static_cast<uint16_t>(std::clamp(std::lround(value), 0L, 65535L));
}

}  // namespace

Meter::Meter(int model, int address) : m_model(model), m_address(address)
{
    if (model == kBranchModel)
        setUpBranch(*this);
    else if (isCircuitModel(model))
        setUpCircuit(*this);
    else
        setUpSensor(*this);
    followStatus();
}

void Meter::followStatus()
{
    using namespace regs;
    if (m_model == kBranchModel) {
        std::array<uint16_t, 6> bits{};
        for (int i = 0; i < kBreakers; ++i) {
            const unsigned current = value(kBranchCurrents + i);
            const unsigned rating = value(kBranchRatings + i);
            const auto word = static_cast<std::size_t>(i / 16);
            const auto bit = static_cast<unsigned>(1u << (i % 16));
            if (current > rating * value(kBranchWarnLimits + i) * kMilliampsPerAmpPerPercent)
                bits[word] = static_cast<uint16_t>(bits[word] | bit);
            if (current > rating * value(kBranchAlarmLimits + i) * kMilliampsPerAmpPerPercent)
                bits[word + 3] = static_cast<uint16_t>(bits[word + 3] | bit);
        }
        for (int n = 0; n < 6; ++n)
            put(kBranchFirstAlarm + n, bits[static_cast<std::size_t>(n)]);
        updateBranchSummary();
        return;
    }
    if (!isCircuitModel(m_model))
        return;

    // Powers and averages in the units the meter's CT size gives its currents.
    double sumVolts = 0.0, sumAmps = 0.0, sumVa = 0.0;
    unsigned maxVolts = 0, minVolts = 65535, maxAmps = 0, minAmps = 65535;
    for (int phase = 0; phase < 3; ++phase) {
        const unsigned v = value(kCircuitVoltsLn + phase);
        const unsigned a = value(kCircuitCurrents + phase);
        sumVolts += v;
        sumAmps += a;
        sumVa += (v * 0.01) * (a * kCtScale);
        maxVolts = std::max(maxVolts, v);
        minVolts = std::min(minVolts, v);
        maxAmps = std::max(maxAmps, a);
        minAmps = std::min(minAmps, a);
        const unsigned next = value(kCircuitVoltsLn + (phase + 1) % 3);
        put(kCircuitVoltsLl + phase, toRegister((v + next) / 2.0 * kSqrt3));
    }
    const double kva = sumVa / 1000.0;
    put(kCircuitKva, toRegister(kva / kCtScale));
    put(kCircuitKw, toRegister(kva * kPowerFactor / kCtScale));
    put(kCircuitKvar, toRegister(kva * std::sqrt(1.0 - kPowerFactor * kPowerFactor) / kCtScale));
    put(kCircuitPowerFactor, toRegister(kPowerFactor * 10000.0));
    put(kCircuitVoltsLnAvg, toRegister(sumVolts / 3.0));
    put(kCircuitVoltsLlAvg, toRegister((value(kCircuitVoltsLl) + value(kCircuitVoltsLl + 1) + value(kCircuitVoltsLl + 2)) / 3.0));
    put(kCircuitCurrentAvg, toRegister(sumAmps / 3.0));

    auto over = [this](unsigned measured, int limitReg) { return value(limitReg) != 0 && measured > value(limitReg); };
    auto under = [this](unsigned measured, int limitReg) { return value(limitReg) != 0 && measured < value(limitReg); };
    unsigned alarms = 0;
    if (over(maxAmps, kCircuitCurrentOver)) alarms |= kAlarmCurrentOver;
    if (under(minAmps, kCircuitCurrentUnder)) alarms |= kAlarmCurrentUnder;
    if (over(value(kCircuitKva), kCircuitKvaOver)) alarms |= kAlarmKvaOver;
    if (under(value(kCircuitKva), kCircuitKvaUnder)) alarms |= kAlarmKvaUnder;
    if (over(maxVolts, kCircuitVoltageOver)) alarms |= kAlarmVoltageOver;
    if (under(minVolts, kCircuitVoltageUnder)) alarms |= kAlarmVoltageUnder;
    if (value(kCircuitPhaseLoss) != 0 && minVolts < value(kCircuitPhaseLoss) * 100u) alarms |= kAlarmPhaseLoss;
    put(kCircuitAlarmBits, static_cast<uint16_t>(alarms));
}

}  // namespace quorna::metersim
