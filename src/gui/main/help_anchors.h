#pragma once
// The sections of the help document (doc/manual/quorna.md) that the windows' "Help" buttons open.
// Each is the anchor of a heading there; a test checks that the built document has every one.

#include <array>

namespace quorna::help {

inline constexpr const char* kContents = "index";
inline constexpr const char* kComms = "comms";
inline constexpr const char* kBreakerAlarms = "breaker-alarms";
inline constexpr const char* kAlarmDelays = "alarm-delays";
inline constexpr const char* kGlobalLimits = "global-limits";
inline constexpr const char* kPanelSetup = "panel-setup";
inline constexpr const char* kPanelConfig = "panel-config";
inline constexpr const char* kLogFile = "log-file";
inline constexpr const char* kDatabaseLink = "database-link";

inline constexpr std::array kWindowAnchors{kComms,      kBreakerAlarms, kAlarmDelays, kGlobalLimits, kPanelSetup,
                                           kPanelConfig, kLogFile,       kDatabaseLink};

}  // namespace quorna::help
