#include "meters/meter_commands.h"

#include <array>
#include <cstdint>

#include "bus/modbus_master.h"
#include "meters/polling_cycle.h"
#include "meters/register_map.h"

namespace quorna {

void resetMeterAlarms(Meters& meters) {
    const int address = meters.selected().address;
    if (address < 1) {
        meters.op().warning("There is no valid meter selected to reset!");
        return;
    }
    const WaitCursor wait(meters.op());
    Bus& bus = meters.bus();
    std::array<std::int32_t, kBranchPollCount> block{};
    const int model = directoryModel(meters.directory(), address);
    int count = 0;
    if (model == kBranchMeter) {
        // The meter acknowledges each write; a write it misses shows up in the read-back below.
        for (int reg = kBranchResetFirst; reg <= kBranchResetLast; ++reg) (void)writeRegister(bus, address, reg, 0);
        count = kBranchPollCount;
    } else if (isCircuitModel(model)) {
        (void)writeRegister(bus, address, kCircuitResetRegister, 0);
        count = kCircuitPollCount;
    } else {
        return;
    }
    // After a failed read the lamps tell nothing, as after a failed poll.
    if (readRegisters(bus, address, 0, count, block.data()) != ModbusError::Ok) {
        meters.setAllLampsUnknown();
        return;
    }
    meters.showAlarmLamps(block.data());
}

}  // namespace quorna
