#pragma once
// The settings record and the file "Quorna.cfg" in the working directory that keeps them.
// The serial settings (port, speed, parity, reopen request) live in the SerialLink record.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bus/serial_link.h"
#include "core/operator.h"

namespace quorna {

enum class DatabaseLoggingState { Off = 0, SettingUp = 1, Active = 2 };

// One variable linked to one column of the logging table.
struct ColumnLink {
    int variable = 0;          // index into VariableTable, 0 to 44
    std::int16_t sqlType = 0;  // ODBC type code of the column, as the data source reports it
    std::string columnName;    // one word, in brackets when the kludge flags are 5
};

inline constexpr int kKludgeBrackets = 5;

struct DatabaseSettings {
    std::string dsn;        // at most 255 characters
    std::string table;      // at most 255, in the form used in SQL
    std::string user;       // at most 127
    std::string password;   // at most 127, kept in plain text
    int kludgeFlags = 0;    // 5: table and column names in square brackets
    std::vector<ColumnLink> links;

    void clear() { *this = DatabaseSettings{}; }
};

struct ConfigurationRecord {
    std::string locationName = "Here";  // at most 255 characters
    int loggingInterval = 5;            // minutes
    int scanDepth = 16;                 // highest address the scan asks, 1 to 247
    std::string logFilePath;            // at most 1023 characters
    bool fileLoggingEnabled = false;    // set by a save_file line; not stored as such
    int fileFormat = 1;                 // 1 comma, 2 tab, 3 space
    DatabaseSettings database;
    DatabaseLoggingState databaseLogging = DatabaseLoggingState::Off;
    // The logger's Modbus TCP gateway ("gateway ADDRESS:PORT"; empty: none), the clients beyond
    // the loopback that may write through it ("gateway_writers ADDRESS[/BITS] ..."), and whether
    // no client may ("gateway_read_only on"). The window program keeps them when it saves.
    std::string gateway;
    std::string gatewayWriters;
    bool gatewayReadOnly = false;
    // quorna-logger only; the window program keeps them when it saves the file.
    bool livePolling = false;           // "live on": poll every meter between logging moments
    std::string httpAddress;            // "http ADDRESS:PORT": the live endpoint, empty for none
};


// Field capacities; longer values from a hand-edited file are cut to them.
inline constexpr std::size_t kLocationCapacity = 255;
inline constexpr std::size_t kLogPathCapacity = 1023;
inline constexpr std::size_t kDsnCapacity = 255;
inline constexpr std::size_t kTableCapacity = 255;
inline constexpr std::size_t kUserCapacity = 127;
inline constexpr std::size_t kPasswordCapacity = 127;
inline constexpr std::size_t kColumnNameCapacity = 255;
inline constexpr std::size_t kGatewayCapacity = 255;
inline constexpr std::size_t kGatewayWritersCapacity = 1023;
inline constexpr std::size_t kHttpAddressCapacity = 255;

inline constexpr const char* kConfigurationFileName = "Quorna.cfg";

// The logging intervals the comms dialog offers, in minutes.
inline constexpr std::array<int, 12> IntervalChoices{1, 2, 3, 4, 5, 6, 10, 12, 15, 20, 30, 60};
// Index of the nearest choice; a value on a midpoint goes to the larger interval.
int nearestInterval(double minutes);

// The value of a line for a key: what follows the key and the white space after it, or nothing.
std::optional<std::string_view> valueAfterKey(std::string_view line, std::string_view key);

// Reads "Quorna.cfg" from the working directory into the record and the serial link (port name,
// speed, parity, and the reopen request a port line makes).
// A missing or unreadable file leaves every default in place, silently; the result says whether the
// file could be opened. `file` names another settings file (the logger's --config).
bool readConfiguration(ConfigurationRecord& cfg, SerialLink& link, const char* file = kConfigurationFileName);
// The same from a text in memory: lines are taken in pieces of at most 511 characters, each piece
// a line of its own; a zero byte ends a piece's text; a last line without its line end is not read.
void parseConfiguration(std::string_view text, ConfigurationRecord& cfg, SerialLink& link);

// What the comms dialog contributes to a save: its location text and interval choice.
struct SaveRequest {
    std::string locationText;
    int intervalChoice = 4;
};
// Writes "Quorna.cfg" from the settings and reports the outcome to the operator. The old file is
// replaced only by a complete new one. Returns true when the file was written.
bool writeConfiguration(const ConfigurationRecord& cfg, const SerialLink& link, Operator& op,
                        const SaveRequest& request);
// The text writeConfiguration puts in the file.
[[nodiscard]] std::string configurationText(const ConfigurationRecord& cfg, const SerialLink& link,
                                            const SaveRequest& request);

}  // namespace quorna
