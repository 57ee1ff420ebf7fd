#pragma once
// Command 32772 (kCmdPanelConfiguration), panel configuration: which of the two panel windows
// the selected meter gets.

#include "meters/meters.h"

namespace quorna {

inline constexpr const char* kNoValidMeterToConfigure =
    "You must select a valid meter before attempting to configure it!";

enum class PanelWindow { None, PanelSetup, PanelConfig };

// No meter selected (address 0 or less): shows the guard message and gives None. Otherwise the
// Branch meter's window when the directory names model 230 for the address, else the other one.
[[nodiscard]] PanelWindow choosePanelWindow(Meters& meters);

}  // namespace quorna
