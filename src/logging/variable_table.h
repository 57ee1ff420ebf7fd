#pragma once
// The variables the database log can write, and which table columns each may be linked to.

#include <array>
#include <cstdint>
#include <string_view>

namespace quorna {

// The 45 loggable variables in their fixed order; a ColumnLink stores the index.
inline constexpr std::array<std::string_view, 45> VariableTable{
    "Meter",  "Location", "Date_Time", "Amps1",  "Amps2",  "Amps3",  "Amps4",  "Amps5",  "Amps6",
    "Amps7",  "Amps8",    "Amps9",     "Amps10", "Amps11", "Amps12", "Amps13", "Amps14", "Amps15",
    "Amps16", "Amps17",   "Amps18",    "Amps19", "Amps20", "Amps21", "Amps22", "Amps23", "Amps24",
    "Amps25", "Amps26",   "Amps27",    "Amps28", "Amps29", "Amps30", "Amps31", "Amps32", "Amps33",
    "Amps34", "Amps35",   "Amps36",    "Amps37", "Amps38", "Amps39", "Amps40", "Amps41", "Amps42"};

inline constexpr int kVariableCount = static_cast<int>(VariableTable.size());
inline constexpr int kMeterVariable = 0;
inline constexpr int kLocationVariable = 1;
inline constexpr int kDateTimeVariable = 2;
inline constexpr int kFirstAmpsVariable = 3;  // Amps1; Amps n is index n + 2

// Whether variable v may be linked to a column of the ODBC SQL type: text columns take every
// variable, numeric columns the meter address and the currents, date and time columns Date_Time.
[[nodiscard]] bool isLinkable(int variable, std::int16_t sqlType);

// Whether a variable name and a column name are the same name: letter case is ignored and a space
// stands for an underscore ("date time" matches Date_Time).
[[nodiscard]] bool namesMatch(std::string_view variableName, std::string_view columnName);

}  // namespace quorna
