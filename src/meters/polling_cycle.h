#pragma once
// The meters' part of a tick of the main window's one-second timer: poll the selected meter, show
// its values and lamps, count failures. The station composes the whole tick (open, poll, log).

#include <array>
#include <cstdint>

#include "meters/meters.h"
#include "meters/register_map.h"

namespace quorna {

// The period of the main window's timer.
inline constexpr int kPollPeriodMs = 1000;
// The failed poll in a row that tells the operator; later ones of the same run count silently.
inline constexpr int kFailuresBeforeMessage = 5;

static_assert(std::tuple_size_v<decltype(MeterLamps::breaker)> == kBreakerCount);

// The polling itself is Meters::beginPoll and its steps, and the lamps' commands of Meters.

// Every lamp of a model from its poll block: registers 42 to 48 of a Branch meter, 36 of a Circuit
// meter; other models: every lamp green.
[[nodiscard]] MeterLamps lampsFromBlock(int model, const std::int32_t* block);

// What one good poll of a Branch or Circuit meter tells: the values the main window shows, as
// numbers, and its lamps. A Circuit meter's currents and powers are NaN when its range register
// gives no scale; currentN is NaN on a meter without a neutral current.
struct MeterReadout {
    int model = kNoModel;
    std::array<double, kBreakerCount> breakerAmps{};  // Branch meters
    double lnAN = 0, lnBN = 0, lnCN = 0, lnAvg = 0;   // volts
    double llAB = 0, llBC = 0, llCA = 0, llAvg = 0;
    double currentA = 0, currentB = 0, currentC = 0, currentN = 0, currentAvg = 0;  // amperes
    double kW = 0, kVAr = 0, kVA = 0, pf = 0;
    float currentScale = 0.0F;  // a Circuit meter's scale from register 29
    MeterLamps lamps;
};
// The readout from a poll block (49 registers of a Branch meter, 37 of a Circuit meter).
[[nodiscard]] MeterReadout readoutFromBlock(int model, const std::int32_t* block);
// The number of registers the poll of a model reads from register 0; 0 for models without a readout.
[[nodiscard]] int pollCountOf(int model);

}  // namespace quorna
