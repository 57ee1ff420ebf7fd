#pragma once
// A station for a test: it keeps its logging spool in a folder of its own, made with the station
// and removed after it (so that tests running side by side never share a spool, and none is left
// behind).

#include <memory>
#include <string>

#include "station/station.h"

namespace quorna::test {

// The folder comes first and goes last: the station is gone (its spool closed) before the folder
// is removed.
class SpoolFolder {
public:
    SpoolFolder();
    ~SpoolFolder();
    SpoolFolder(const SpoolFolder&) = delete;
    SpoolFolder& operator=(const SpoolFolder&) = delete;

    // The folder with a trailing '/', or empty when none could be made.
    [[nodiscard]] const std::string& spoolFolder() const { return m_folder; }

private:
    std::string m_folder;
};

class SpooledStation : private SpoolFolder, public Station {
public:
    // Everything the station shows or asks goes to op, which outlives the station.
    explicit SpooledStation(Operator& op);
};

// The station a fixture holds for its test, made on the fixture's operator: made when the fixture
// says, made afresh on a restart, dropped when the fixture says (and at the latest with the
// holder).
class HeldStation {
public:
    // No station yet: fresh() makes the first.
    explicit HeldStation(Operator& op) : m_op(op) {}

    // The station held. A test that holds none fails here.
    Station& get();
    // The station held so far, if any, is destroyed first (its port closed, its spool folder
    // gone); then a fresh one is made and held.
    Station& fresh();
    // Destroys the station held: its port is closed.
    void drop() { m_station.reset(); }

private:
    Operator& m_op;
    std::unique_ptr<SpooledStation> m_station;
};

}  // namespace quorna::test
