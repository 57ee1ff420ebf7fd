#pragma once
// The work of one tick of the main window's one-second timer: open the port the settings named,
// poll the selected meter, show its values and lamps, count failures, then run the logging cycle.

#include <cstdint>

namespace quorna {

// Timer 1 of the main window and its period.
inline constexpr int kPollTimerId = 1;
inline constexpr int kPollPeriodMs = 1000;
// The failed poll in a row that tells the operator; later ones of the same run count silently.
inline constexpr int kFailuresBeforeMessage = 5;

// One tick. Runs synchronously; message boxes it shows keep the timer ticking (the window's
// operator runs further ticks meanwhile), so it may be entered again from inside itself.
void PollingCycle();

// How many ticks are running right now, nested ones included; 0 outside a tick. The window's
// operator uses it to keep polling while a box opened inside a tick is shown.
int pollingTickDepth();

// Every breaker lamp and both Over lamps green.
void setAllLampsGreen();
// Lamps from a poll block of the selected meter's model (registers 0 to 48 of a Branch meter,
// 0 to 36 of a Circuit meter); other models leave every lamp green.
void showAlarmLamps(const std::int32_t* block);

}  // namespace quorna
