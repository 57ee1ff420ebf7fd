#pragma once
// The meters' part of a tick of the main window's one-second timer: poll the selected meter, show
// its values and lamps, count failures. The station composes the whole tick (open, poll, log).

#include <cstdint>

#include "meters/meters.h"

namespace quorna {

// The period of the main window's timer.
inline constexpr int kPollPeriodMs = 1000;
// The failed poll in a row that tells the operator; later ones of the same run count silently.
inline constexpr int kFailuresBeforeMessage = 5;

// Polls the selected meter once, when the port is open and no scan runs. Runs synchronously;
// message boxes it shows keep the timer ticking, so it may be entered again from inside itself.
void pollSelectedMeter(Meters& meters);

// Every breaker lamp and both Over lamps green.
void setAllLampsGreen(Meters& meters);
// Every lamp neither green nor red: the meter did not answer, its state is not known.
void setAllLampsUnknown(Meters& meters);
// Lamps from a poll block of the selected meter's model (registers 0 to 48 of a Branch meter,
// 0 to 36 of a Circuit meter); other models leave every lamp green.
void showAlarmLamps(Meters& meters, const std::int32_t* block);

}  // namespace quorna
