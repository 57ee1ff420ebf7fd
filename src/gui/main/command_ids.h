#pragma once
// Command identifiers of the main window's menu and of the commands without a menu entry.
// Every subsystem binds its handlers to these numbers through AppShell::addCommand.

namespace quorna {

inline constexpr int kCmdPanelConfiguration = 32772;  // no menu entry
inline constexpr int kCmdAbout = 32774;               // Help, "About"
inline constexpr int kCmdScan = 32775;                // File, "Scan"
inline constexpr int kCmdProtocolTrace = 32776;       // no menu entry
inline constexpr int kCmdLogFileSetup = 32777;        // no menu entry
inline constexpr int kCmdDatabaseSetup = 32778;       // no menu entry
inline constexpr int kCmdExit = 32779;                // File, "Exit"
inline constexpr int kCmdResetAlarms = 32780;         // Configuration, Alarms, "Reset"
inline constexpr int kCmdSetpoints = 32781;           // Configuration, Alarms, "Setpoints"
inline constexpr int kCmdDelays = 32782;              // Configuration, Alarms, "Delays"
inline constexpr int kCmdComms = 32783;               // Configuration, "Comms"
inline constexpr int kCmdHelp = 57670;                // Help, "Help"
inline constexpr int kCmdHelpIndex = 57666;           // Help, "Help Index"
inline constexpr int kCmdScanAlternate = 1005;        // the same scan as kCmdScan, no menu entry

// The system menu's About entry; every system command from 16 to 31 counts as About.
inline constexpr int kSysCmdAbout = 16;

}  // namespace quorna
