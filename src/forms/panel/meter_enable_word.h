#pragma once
// Register 72 of a Circuit meter: which of up to eight meters of the panel are enabled, and
// whether this meter's selection is locked. The window shows it as eight three-state boxes.

#include <array>

namespace quorna {

inline constexpr int kMeterEnableRegister = 72;
inline constexpr int kMeterEnableBoxCount = 8;
inline constexpr int kMeterSelectionLockedBit = 0x8000;  // read only

enum class BoxState { Unchecked, Checked, Indeterminate };
using MeterEnableBoxes = std::array<BoxState, kMeterEnableBoxCount>;

struct MeterEnableWord {
    // The boxes a word shows: box 1 always checked, boxes 2 to 6 from bits 1 to 5, boxes 7 and 8
    // from bits 6 and 7 on a model 235 meter and indeterminate on any other.
    static MeterEnableBoxes boxes(int word, int model);
    static bool locked(int word) { return (word & kMeterSelectionLockedBit) != 0; }
    // The word "SET" sends: bit 0 always, bits 1 to 5 for boxes 2 to 6 that are not unchecked,
    // bits 6 and 7 for boxes 7 and 8 on a model 235 meter only.
    static int compose(const MeterEnableBoxes& boxes, int model);
    // The state a click leaves a box in (boxes are numbered 1 to 8); a locked selection keeps
    // every box as it is.
    static BoxState clicked(const MeterEnableBoxes& boxes, int box, bool locked, int model);
};

}  // namespace quorna
