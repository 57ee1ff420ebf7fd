// Holding register numbers of the emulated meters (the start addresses on the wire).
#pragma once

namespace quorna::metersim::regs {

inline constexpr int kBreakers = 42;

// Branch meter
inline constexpr int kBranchCurrents = 0;         // mA, breaker i + 1 at register i
inline constexpr int kBranchStatusSummary = 42;   // bit n set when register 43 + n is non-zero
inline constexpr int kBranchFirstAlarm = 43;      // 43..45, yellow lamp bits
inline constexpr int kBranchSecondAlarm = 46;     // 46..48, red lamp bits
inline constexpr int kBranchStatusLast = 48;
inline constexpr int kBranchFirmware = 49;        // major, minor
inline constexpr int kBranchRatings = 51;         // A, 51..92
inline constexpr int kBranchWarnLimits = 93;      // %, 93..134
inline constexpr int kBranchAlarmLimits = 135;    // %, 135..176
inline constexpr int kWarnDelays = 177;           // s, 177..218 (Branch and Circuit)
inline constexpr int kAlarmDelays = 219;          // s, 219..260 (Branch and Circuit)
inline constexpr int kBranchSerial = 261;         // 32-bit, high word first
inline constexpr int kBranchGlobalRating = 267;
inline constexpr int kBranchGlobalWarnPercent = 268;
inline constexpr int kBranchGlobalAlarmPercent = 269;
inline constexpr int kBranchWarnHoldoff = 270;
inline constexpr int kBranchAlarmHoldoff = 271;
inline constexpr int kBranchName = 273;           // 273..274
inline constexpr int kBranchLast = 274;

// Circuit meters
inline constexpr int kCircuitKw = 2;
inline constexpr int kCircuitKvar = 3;
inline constexpr int kCircuitKva = 4;
inline constexpr int kCircuitPowerFactor = 5;     // × 0.0001
inline constexpr int kCircuitVoltsLlAvg = 6;      // × 0.01 V
inline constexpr int kCircuitVoltsLnAvg = 7;
inline constexpr int kCircuitCurrentAvg = 8;
inline constexpr int kCircuitVoltsLl = 16;        // A-B, B-C, C-A
inline constexpr int kCircuitVoltsLn = 19;        // A-N, B-N, C-N
inline constexpr int kCircuitCurrents = 22;       // A, B, C
inline constexpr int kCircuitNeutralCurrent = 25;
inline constexpr int kCircuitCtSize = 29;
inline constexpr int kCircuitVoltageOver = 30;
inline constexpr int kCircuitVoltageUnder = 31;
inline constexpr int kCircuitCurrentOver = 32;
inline constexpr int kCircuitCurrentUnder = 33;
inline constexpr int kCircuitKvaOver = 34;
inline constexpr int kCircuitKvaUnder = 35;
inline constexpr int kCircuitAlarmBits = 36;      // same bit layout as the critical flags
inline constexpr int kCircuitPhaseLoss = 37;      // V
inline constexpr int kCircuitFirstName = 38;      // 38..39
inline constexpr int kCircuitSecondName = 40;     // 40..41
inline constexpr int kFirmware = 42;              // major, minor (every model but Branch)
inline constexpr int kCircuitSerial = 44;
inline constexpr int kCircuitMeterEnable = 72;
inline constexpr int kCircuitCriticalFlags = 73;
inline constexpr int kCircuitPollLast = 73;

inline constexpr unsigned kMeterEnableLocked = 0x8000;

inline constexpr unsigned kAlarmCurrentOver = 0x01;
inline constexpr unsigned kAlarmCurrentUnder = 0x02;
inline constexpr unsigned kAlarmKvaOver = 0x04;
inline constexpr unsigned kAlarmKvaUnder = 0x08;
inline constexpr unsigned kAlarmVoltageOver = 0x10;
inline constexpr unsigned kAlarmVoltageUnder = 0x20;
inline constexpr unsigned kAlarmPhaseLoss = 0x40;

// Other models
inline constexpr int kTemperature = 256;          // single, °C
inline constexpr int kEnergyFirst = 258;          // singles in pairs
inline constexpr int kEnergyOnlyLast = 261;
inline constexpr int kFullDataLast = 309;

}  // namespace quorna::metersim::regs
