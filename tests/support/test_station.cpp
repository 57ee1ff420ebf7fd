#include "test_station.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace quorna::test {
namespace {

// Test support only: which station the running test made.
std::unique_ptr<Station>& current() {
    static std::unique_ptr<Station> held;
    return held;
}

}  // namespace

Station& useFreshStation(Operator& op) {
    current().reset();
    current() = std::make_unique<Station>(op);
    return *current();
}

Station& station() {
    if (!current()) {
        ADD_FAILURE() << "the test made no station";
        std::abort();
    }
    return *current();
}

void endStation() { current().reset(); }

}  // namespace quorna::test
