#pragma once
// The meter models, how a meter's device text names its model, the directory of models by bus
// address, and the scale of a Circuit meter's currents.

#include <array>
#include <cstdint>
#include <string_view>

namespace quorna {

// Model codes. A meter reports the code of a Branch or Circuit meter as its slave ID byte.
enum MeterModel : int {
    kNoModel = 0,
    kBranchMeter = 230,
    kCircuitMeter8 = 235,
    kCircuitMeter6 = 236,
    kTemperatureMeter = 600,
    kEnergyOnlyMeter = 8035,
    kFullDataMeter = 8036,
};

// Names the model from a device text (or a meter-list entry, which embeds it); 0 when no rule holds.
MeterModel modelFromDeviceText(std::string_view text);

inline bool isCircuitModel(int model) { return model == kCircuitMeter8 || model == kCircuitMeter6; }

// Slave ID bytes reported by the meters, indexed by Modbus address 0 to 247.
inline constexpr int kMeterDirectorySize = 248;
using MeterDirectory = std::array<std::int32_t, kMeterDirectorySize>;
// The directory entry of an address, 0 for an address outside the table.
int directoryModel(const MeterDirectory& directory, int address);

// Scale of a Circuit meter's currents and powers for the value of its range register 29.
float currentScaleFor(int rangeValue);

}  // namespace quorna
