#pragma once
// The station a test works on. Each test makes its own, on the operator it watches, and the
// helpers of the test files reach it through station(). Tests that need two stations build them
// themselves.

#include "station/station.h"

namespace quorna::test {

// Makes a fresh station on op the test's station; the one before, if any, is destroyed first
// (its port closed).
Station& useFreshStation(Operator& op);
// The test's station. A test that made none fails here.
Station& station();
// Destroys the test's station: its port is closed.
void endStation();

}  // namespace quorna::test
