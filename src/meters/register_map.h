#pragma once
// Where the meters keep their values, and the block reads the setup windows share.

#include <array>
#include <cstdint>
#include <string>

#include "bus/modbus_master.h"
#include "meters/meters.h"

namespace quorna {

// Poll blocks.
inline constexpr int kBranchPollCount = 49;   // registers 0 to 48
inline constexpr int kCircuitPollCount = 37;  // registers 0 to 36
inline constexpr int kBreakerCount = 42;
inline constexpr double kBreakerAmpsPerCount = 0.001;  // a Branch meter's current registers
inline constexpr int kBranchStatusSummary = 42;  // bit n enables register 43 + n
inline constexpr int kBranchFirstAlarmBits = 43;   // 43 to 45: yellow
inline constexpr int kBranchSecondAlarmBits = 46;  // 46 to 48: red
inline constexpr int kCircuitRangeRegister = 29;   // selects CurrentScale; the CT size
inline constexpr int kCircuitAlarmBits = 36;       // bit 0 current over, bit 4 voltage over

// Other models' blocks.
inline constexpr int kTemperatureStart = 256, kTemperatureCount = 2;
inline constexpr int kEnergyOnlyStart = 258, kEnergyOnlyCount = 4;
inline constexpr int kFullDataStart = 258, kFullDataCount = 52;
// The singles of a Full-Data meter's block, high word first; the other registers are not values.
inline constexpr std::array<int, 3> kFullDataValueRegisters{258, 306, 308};

// Names, firmware and serial number.
inline constexpr int kBranchNameRegister = 273;   // 273 to 274
inline constexpr int kCircuitNameRegister = 38;   // 38 to 39 first name, 40 to 41 second
inline constexpr int kBranchFirmwareRegister = 49;
inline constexpr int kOtherFirmwareRegister = 42;
inline constexpr int kBranchSerialRegister = 261;
inline constexpr int kCircuitSerialRegister = 44;

// Setup blocks (42 registers each unless said).
inline constexpr int kPanelSetupRegister = 51;       // breaker ratings
inline constexpr int kWarningLimitRegister = 93;
inline constexpr int kBranchAlarmLimitRegister = 135;
inline constexpr int kWarningDelayRegister = 177;
inline constexpr int kAlarmDelayRegister = 219;
inline constexpr int kGlobalLimitRegister = 30;      // 8 registers, 30 to 37, on other models
inline constexpr int kGlobalLimitCount = 8;
inline constexpr int kGlobalFlagsRegister = 73;
inline constexpr std::int32_t kFailedFlags = 0x01010101;  // what a failed flag read leaves

// Reset writes.
inline constexpr int kBranchResetFirst = 43, kBranchResetLast = 48;
inline constexpr int kCircuitResetRegister = 36;

using BreakerBlock = std::array<std::int32_t, kBreakerCount>;

// Each read takes the meter's model from the meters' directory where its registers depend on it.
// On a failed read each gives the documented failure value; the block reads return the code too.
std::uint32_t readSerialNumber(Meters& meters, int address);                 // 0 on failure or other models
void readFirmwareVersion(Meters& meters, int address, int& major, int& minor); // 0 and 0 on failure
ModbusError readPanelSetupBlock(Meters& meters, int address, BreakerBlock& out);  // every value -1
// 42 values from 135 for a Branch meter, else 8 values from 30 (the rest of out untouched by a read).
ModbusError readAlarmLimits(Meters& meters, int address, BreakerBlock& out);
ModbusError readWarningLimits(Meters& meters, int address, BreakerBlock& out);
ModbusError readAlarmDelays(Meters& meters, int address, BreakerBlock& out);
ModbusError readWarningDelays(Meters& meters, int address, BreakerBlock& out);
ModbusError readGlobalFlags(Meters& meters, int address, std::int32_t& flags);  // 0x01010101 on failure

struct MeterNames {
    std::string first;   // at most 4 characters; a zero byte ends it
    std::string second;  // Circuit meters only
};
// Branch: 273, 2 registers; Circuit: 38, 4 registers; other models: no read. Empty names on failure.
MeterNames readMeterNames(Meters& meters, int address);
// Where the names of a model lie: first register and count (count 0: the model has none).
struct RegisterSpan {
    int start = 0;
    int count = 0;
};
[[nodiscard]] RegisterSpan namesSpanOf(int model);
// The names in the registers of a model's names span.
[[nodiscard]] MeterNames namesFromSpan(int model, const std::int32_t* registers);

// Four characters from two registers, high byte first; a zero byte ends the text.
std::string namesFromRegisters(const std::int32_t* registers, int registerCount);
// A name padded with spaces (or cut) to four characters, as two register values.
std::array<int, 2> nameToRegisters(const std::string& name);
// The single-precision number in two registers, high word first.
float floatFromRegisters(std::int32_t high, std::int32_t low);

}  // namespace quorna
