#include "meters/meter_commands.h"

#include <array>
#include <cstdint>

#include "app/operator.h"
#include "bus/modbus_master.h"
#include "bus/serial_link.h"
#include "meters/meter_model.h"
#include "meters/meter_state.h"
#include "meters/polling_cycle.h"
#include "meters/register_map.h"

namespace quorna {

void resetMeterAlarms() {
    const int address = selectedMeter().address;
    if (address < 1) {
        ui().messageBox("There is no valid meter selected to reset!", "");
        return;
    }
    const WaitCursor wait;
    SerialLink& link = serialLink();
    std::array<std::int32_t, kBranchPollCount> block{};
    const int model = directoryModel(address);
    int count = 0;
    if (model == kBranchMeter) {
        // The meter acknowledges each write; a write it misses shows up in the read-back below.
        for (int reg = kBranchResetFirst; reg <= kBranchResetLast; ++reg) (void)writeRegister(link, address, reg, 0);
        count = kBranchPollCount;
    } else if (isCircuitModel(model)) {
        (void)writeRegister(link, address, kCircuitResetRegister, 0);
        count = kCircuitPollCount;
    } else {
        return;
    }
    // A failed read leaves the block zeroed: every lamp green, as after a failed poll.
    if (readRegisters(link, address, 0, count, block.data()) != ModbusError::Ok) block.fill(0);
    showAlarmLamps(block.data());
}

}  // namespace quorna
