#pragma once
// The texts and lamp states the main window shows. The polling cycle, the scan and the commands
// write them; Operator::transferFields and Operator::showLamps put them on screen.

#include <array>
#include <string>

#include "core/operator.h"

namespace quorna {

// Unknown: the meter did not answer the last poll, so the lamp tells nothing (shown grey).
enum class Lamp { Green, Yellow, Red, Unknown };

struct MainWindowFields {
    std::array<std::string, 42> breaker;  // breaker 1 to 42, "0.000" at start

    // Phase area, by group and row.
    std::string currentA, currentB, currentC, currentN, currentAvg;
    std::string lnAN, lnBN, lnCN, lnAvg;
    std::string llAB, llBC, llCA, llAvg;
    std::string kW, kVAr, kVA, pf;

    // The selected meter's names, at most four characters each: the station's name texts
    // that the setup windows show and the panel windows rewrite.
    std::string firstName, secondName;

    std::array<Lamp, 42> breakerLamp{};  // all green
    Lamp overAmps = Lamp::Green;
    Lamp overVolts = Lamp::Green;

    Layout layout = Layout::BranchView;

    MainWindowFields() { breaker.fill("0.000"); }
};

// A meter's lamps as the main window shows them.
struct MeterLamps {
    std::array<Lamp, 42> breaker{};  // all green
    Lamp overAmps = Lamp::Green;
    Lamp overVolts = Lamp::Green;
    bool operator==(const MeterLamps&) const = default;
};

}  // namespace quorna
