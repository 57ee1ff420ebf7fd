#include "meters/meter_model.h"

namespace quorna {
namespace {

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

}  // namespace

MeterModel modelFromDeviceText(std::string_view text) {
    if (!contains(text, "Tamsa")) return kNoModel;
    if (contains(text, "Energy-Only")) return kEnergyOnlyMeter;
    if (contains(text, "Temperature")) return kTemperatureMeter;
    if (contains(text, "Full-Data")) return kFullDataMeter;
    if (contains(text, "Branch")) return kBranchMeter;
    if (contains(text, "Circuit") && contains(text, "Meter 6,")) return kCircuitMeter6;
    if (contains(text, "Circuit") && contains(text, "Meter 8,")) return kCircuitMeter8;
    return kNoModel;
}

int directoryModel(const MeterDirectory& directory, int address) {
    if (address < 0 || address >= kMeterDirectorySize) return 0;
    return directory[static_cast<std::size_t>(address)];
}

float currentScaleFor(int rangeValue) {
    const unsigned v = static_cast<unsigned>(rangeValue) & 0xFFFFU;
    if (v <= 5) return 0.0001F;
    if (v <= 59) return 0.001F;
    if (v <= 599) return 0.01F;
    if (v <= 5999) return 0.1F;
    return 0.0F;
}

}  // namespace quorna
