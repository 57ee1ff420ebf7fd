#include "meters/meter_state.h"

namespace quorna {
namespace {
SelectedMeter g_selected;
BusStatistics g_statistics;
}  // namespace

int consecutiveFailures = 0;

SelectedMeter& selectedMeter() { return g_selected; }
BusStatistics& busStatistics() { return g_statistics; }

}  // namespace quorna
