// The line commands shared by scenario files and the control socket. One command per line;
// blank lines and lines starting with '#' are no commands.
//
//   meter ADDR MODEL            add or replace a meter (230, 235, 236, 600, 8035, 8036)
//   remove ADDR                 take a meter off the bus
//   set ADDR REG V1 [V2 ...]    store values into consecutive registers, as they are
//   setf ADDR REG FLOAT         store a single-precision value into REG, REG+1, high word first
//   name ADDR TEXT              first meter name (4 characters, zero-padded)
//   name2 ADDR TEXT             second meter name (Circuit meters)
//   text ADDR DEVICE-TEXT...    device text of the report-slave-ID answer (at most 90 bytes)
//   slaveid ADDR BYTE           slave ID byte of the report-slave-ID answer
//   fault ADDR KIND [ARG]       silent, badcrc, wrongaddr, exception [REG], split, trailing [N], delay MS, none
//   drift ADDR|all on|off       drift of the measured values and alarm status following them
//   linecheck on|off            ignore requests sent at another speed or parity than the meters'
//   get ADDR REG COUNT          control socket only: "ok V1 V2 ..."
//   ping                        "ok"
#pragma once

#include "bus_state.h"

#include <optional>
#include <string>
#include <string_view>

namespace quorna::metersim {

enum class CommandSource { Scenario, Control };

// Carries out one command line. Returns the reply ("ok ..." or "err <reason>"), or nullopt
// for a blank or comment line.
[[nodiscard]] std::optional<std::string> executeCommand(BusState& bus, std::string_view line, CommandSource source);

}  // namespace quorna::metersim
