#include "meters/meter_scan.h"

namespace quorna {

bool scanning = false;

void MeterScan() {}

void selectMeter() {}

}  // namespace quorna
