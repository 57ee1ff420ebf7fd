#include "meters/meters.h"

namespace quorna {

void Meters::recordSlaveId(int address, int slaveId) {
    if (address < 0 || address >= kMeterDirectorySize) return;
    m_directory[static_cast<std::size_t>(address)] = slaveId;
}

void Meters::showLayoutFor(int model) {
    m_fields.layout = model == kBranchMeter ? Layout::BranchView : Layout::CircuitView;
    m_op.applyLayout(m_fields.layout);
}

void Meters::setNames(const std::string& first, const std::string& second) {
    m_fields.firstName = first;
    m_fields.secondName = second;
}

void Meters::showLamps(const MeterLamps& lamps) {
    m_fields.breakerLamp = lamps.breaker;
    m_fields.overAmps = lamps.overAmps;
    m_fields.overVolts = lamps.overVolts;
    m_op.showLamps();
}

void Meters::setCurrentScale(int address, float scale) {
    m_currentScale = scale;
    m_currentScaleAddress = address;
}

}  // namespace quorna
