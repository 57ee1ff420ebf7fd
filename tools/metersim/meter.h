// One emulated meter: its model, device text, slave ID byte and the holding registers it
// holds, with the rules the meter applies when the bus writes into them.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorna::metersim {

inline constexpr int kBranchModel = 230;
inline constexpr int kCircuit8Model = 235;
inline constexpr int kCircuit6Model = 236;
inline constexpr int kTemperatureModel = 600;
inline constexpr int kEnergyOnlyModel = 8035;
inline constexpr int kFullDataModel = 8036;

inline constexpr int kFirstMeterAddress = 1;
inline constexpr int kLastMeterAddress = 247;
inline constexpr std::size_t kMaxDeviceText = 90;

[[nodiscard]] bool isKnownModel(int model);
[[nodiscard]] bool isCircuitModel(int model);

// A quantity that drifts around a base value while drift is on: one register, or an
// IEEE-754 single in two registers (high word first).
struct LiveQuantity {
    int reg = 0;
    bool isFloat = false;
    double base = 0.0;
    double swing = 0.0;  // largest relative deviation from the base
    double walk = 0.0;   // current position of the random walk, -1..1
};

class Meter {
public:
    // A meter of a known model (see isKnownModel) with the model's realistic contents.
    Meter(int model, int address);

    [[nodiscard]] int model() const { return m_model; }
    [[nodiscard]] int address() const { return m_address; }

    [[nodiscard]] const std::string& deviceText() const { return m_deviceText; }
    void setDeviceText(std::string text) { m_deviceText = std::move(text); }
    [[nodiscard]] uint8_t slaveId() const { return m_slaveId; }
    void setSlaveId(uint8_t id) { m_slaveId = id; }

    [[nodiscard]] bool holds(int reg) const;
    [[nodiscard]] bool holdsRange(int start, int count) const;

    // The values of registers start..start+count-1; nullopt when any of them is not held.
    [[nodiscard]] std::optional<std::vector<uint16_t>> read(int start, int count) const;

    // A function-6 write. Applies the meter's own rules: a Branch meter's global rating and
    // global percentages fan out to the per-breaker registers, bit 15 of a Circuit meter's
    // enable word is read-only, and the Branch status summary follows the status registers.
    // Returns false, changing nothing, for a register the meter does not hold.
    [[nodiscard]] bool writeFromBus(int reg, uint16_t value);

    // Stores values into consecutive registers as they are, read-only bits included (the
    // operator of the simulator may put the meter into any state). The Branch status summary
    // is recomputed when status registers change, unless `values` itself covers the summary.
    // Returns false, changing nothing, when any register is not held.
    [[nodiscard]] bool store(int reg, std::span<const uint16_t> values);

    // Stores a single-precision value into reg and reg + 1, high word first.
    [[nodiscard]] bool storeFloat(int reg, float value);

    // Drift moves the live quantities around their bases and makes the alarm status
    // registers follow them. Off, the registers keep exactly what was stored.
    void setDrift(bool on) { m_drift = on; }
    [[nodiscard]] bool drifting() const { return m_drift; }

    // Advances drift by `seconds`; does nothing while drift is off.
    void tick(double seconds, std::mt19937& rng);

    // Raw access for the model set-up code.
    void hold(int first, int last);
    void put(int reg, uint16_t value);
    void putFloat(int reg, float value);
    void putText(int reg, int registers, std::string_view text);
    [[nodiscard]] uint16_t value(int reg) const;
    [[nodiscard]] float floatValue(int reg) const;
    void addLive(LiveQuantity quantity) { m_live.push_back(quantity); }

    // Recomputes everything the meter derives from its measured values: Branch status bits,
    // Circuit powers, averages and alarm bits.
    void followStatus();

private:
    void rebaseLive(int first, int last);
    void updateBranchSummary();

    int m_model;
    int m_address;
    std::string m_deviceText;
    uint8_t m_slaveId = 0;
    std::vector<uint16_t> m_values;
    std::vector<bool> m_held;
    std::vector<LiveQuantity> m_live;
    bool m_drift = true;
};

// Text of a name register pair: up to `registers` × 2 characters, padded with zero bytes.
[[nodiscard]] std::vector<uint16_t> packText(std::string_view text, int registers);

}  // namespace quorna::metersim
