#pragma once
// Meter acquisition tests: the shared station fixture and the decoding of the meters' requests.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "station_fixture.h"

namespace quorna::test {

// Meter acquisition's stories: a station, and meters on the bus once the test starts them.
using MeterBusTest = StationTest;

// Function code and register count of a read request (function 3) as received by the meters.
inline int functionOf(const SimRequest& r) { return r.bytes.size() > 1 ? r.bytes[1] : -1; }
inline int addressOf(const SimRequest& r) { return r.bytes.empty() ? -1 : r.bytes[0]; }
inline int readStartOf(const SimRequest& r) { return r.bytes.size() > 3 ? (r.bytes[2] << 8) | r.bytes[3] : -1; }
inline int readCountOf(const SimRequest& r) { return r.bytes.size() > 5 ? (r.bytes[4] << 8) | r.bytes[5] : -1; }

}  // namespace quorna::test
