#pragma once
// The logic of the Branch meter's "Panel Configuration" window: the 42 breaker ratings (written
// on "OK", only those that changed), the global rating and the panel name (each written at once
// by its "SET"), and the firmware and serial-number lines.
//
// The window is bound to the meter that was selected when it opened: every read and write goes
// to that address, whatever the operator selects in the main window meanwhile.

#include <array>
#include <optional>
#include <string>

#include "meters/register_map.h"

namespace quorna {

inline constexpr int kGlobalRatingRegister = 267;
inline constexpr int kRatingLow = 10, kRatingHigh = 50;  // amperes
inline constexpr int kInitialGlobalRating = 20;

class PanelSetupDialog {
public:
    explicit PanelSetupDialog(Meters& meters) : m_meters(meters) {}

    // Which edit a take stopped at: breaker k's edit is field k - 1.
    static constexpr int kGlobalRatingField = kBreakerCount;
    static constexpr int kPanelNameField = kBreakerCount + 1;

    // The ratings as last read from the meter; "OK" writes only the entries that differ.
    struct LimitSnapshot {
        std::array<int, kBreakerCount> rating{};
    };

    // The texts of the window's controls. The Qt layer copies them to and from its controls;
    // showFields fills them from the values, takeFields reads them back.
    struct Texts {
        std::array<std::string, kBreakerCount> rating;
        std::string globalRating;
        std::string firstName;   // after "Breaker Ratings - ", display only
        std::string panelName;
        std::string firmwareText;
        std::string serialText;
    };

    // Binds the window to the selected meter and reads its ratings, firmware version and
    // serial number (with the wait cursor); fills the texts.
    void open();

    // Takes every field from the texts in the window's order (ratings 1 to 42, global rating,
    // names, text lines). The first failing field stops the take: its message is shown and it
    // is returned so the window can give it the focus. nothing when all pass.
    [[nodiscard]] std::optional<int> takeFields();
    // Fills the texts from the values.
    void showFields();

    // "Global Rating" "SET": writes the global rating and reads the ratings back, which replaces
    // unsent edits. "Panel Name" "SET": writes the name padded to four characters, reads it back.
    // Both send nothing while a field fails its take, and return that field (else nothing).
    [[nodiscard]] std::optional<int> setGlobalRating();
    [[nodiscard]] std::optional<int> setPanelName();
    // "OK": after a passing take, writes each rating that differs from the snapshot, breaker 1
    // first. Returns nothing when the window may close, else the failing field (nothing sent).
    [[nodiscard]] std::optional<int> accept();

    Texts texts;

    [[nodiscard]] int boundAddress() const { return m_address; }
    [[nodiscard]] const std::array<int, kBreakerCount>& breakerRating() const { return m_breakerRating; }
    [[nodiscard]] const LimitSnapshot& snapshot() const { return m_snapshot; }
    [[nodiscard]] int globalRating() const { return m_globalRating; }
    [[nodiscard]] const std::string& firstName() const { return m_firstName; }
    [[nodiscard]] const std::string& panelName() const { return m_panelName; }

private:
    Meters& m_meters;
    void refreshRatings();
    void storeName(const std::string& name);

    int m_address = -1;
    std::array<int, kBreakerCount> m_breakerRating{};
    LimitSnapshot m_snapshot;
    int m_globalRating = kInitialGlobalRating;  // never read from the meter: kept for the whole run
    std::string m_firstName;
    std::string m_panelName;
    std::string m_firmwareText;
    std::string m_serialText;
};

}  // namespace quorna
