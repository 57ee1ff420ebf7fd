#pragma once
// The "Alarm Setup" window of every meter that is not a Branch meter: the under and over limits of
// voltage, current and KVA, the phase-loss threshold, and a "Critical" flag for each of the seven.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "forms/alarms/breaker_pairs.h"

namespace quorna {

// Registers 30 to 35 in this order, then 37 (register 36 is read with the block and not used).
inline constexpr int kVoltageOverRegister = kGlobalLimitRegister;  // 30, 0.01 V
inline constexpr int kVoltageUnderRegister = 31;                   // 0.01 V
inline constexpr int kCurrentOverRegister = 32;                    // CurrentScale
inline constexpr int kCurrentUnderRegister = 33;
inline constexpr int kKvaOverRegister = 34;
inline constexpr int kKvaUnderRegister = 35;
inline constexpr int kPhaseLossRegister = 37;
inline constexpr int kCriticalFlagsRegister = kGlobalFlagsRegister;  // 73

// CriticalFlags, one bit per "Critical" box; the phase-loss box stands for three bits.
inline constexpr std::int32_t kCurrentOverCritical = 0x01;
inline constexpr std::int32_t kCurrentUnderCritical = 0x02;
inline constexpr std::int32_t kKvaOverCritical = 0x04;
inline constexpr std::int32_t kKvaUnderCritical = 0x08;
inline constexpr std::int32_t kVoltageOverCritical = 0x10;
inline constexpr std::int32_t kVoltageUnderCritical = 0x20;
inline constexpr std::int32_t kPhaseLossCritical = 0x40 | 0x80 | 0x100;

inline constexpr float kVoltsPerCount = 0.01F;  // single precision, as the meter's own scale
inline constexpr float kMaxLimit = 65535.0F;

// Said when current or KVA limits were entered and the bound meter's scale is not known.
inline constexpr const char* kUnknownScaleMessage =
    "The meter's current scale (CT size) could not be read: nothing was written.";

class GlobalLimitsDialog {
public:
    // The six limits, in register order 30 to 35.
    enum Limit : int { kVoltageOver, kVoltageUnder, kCurrentOver, kCurrentUnder, kKvaOver, kKvaUnder, kLimitCount };
    // The text fields in the order of the take.
    enum Field : int {
        kFirstNameField,
        kSecondNameField,
        kCurrentOverField,
        kCurrentUnderField,
        kVoltageOverField,
        kVoltageUnderField,
        kKvaOverField,
        kKvaUnderField,
        kPhaseLossField,
        kFieldCount
    };
    // The "Critical" boxes.
    enum Box : int { kCurrentOverBox, kCurrentUnderBox, kKvaOverBox, kKvaUnderBox, kVoltageOverBox, kVoltageUnderBox,
                     kPhaseLossBox, kBoxCount };

    struct Controls {
        std::array<std::string, kFieldCount> texts;
        std::array<bool, kBoxCount> critical{};
    };

    // The limits as computed at opening (single precision), the threshold and the flag word as read.
    struct LimitSnapshot {
        std::array<float, kLimitCount> limit{};
        std::int32_t phaseLossThreshold = 0;
        std::int32_t flags = 0;
    };

    GlobalLimitsDialog(Meters& meters, AlarmWindowMarks& marks);

    // Binds the window to the meter at address while it is open, copies both meter names, reads
    // the limits (scaling current and KVA by CurrentScale) and the flag word. Shows the wait cursor.
    void open(int address);
    // The texts and boxes as the window shows them; limits with up to six significant digits.
    [[nodiscard]] Controls showFields();
    // Takes the boxes, then the texts in take order. The first failing text shows its message and
    // is returned; an edit that still shows the text the window put there keeps its value.
    [[nodiscard]] std::optional<int> takeFields(const Controls& controls);
    // Writes each limit that differs from the snapshot (30, 31, 32, 33, 34, 35, 37), converted
    // and rounded. Current and KVA limits are converted with the bound meter's scale as last read
    // from it (its good polls, else register 29 read at opening or now); while no scale is known
    // nothing at all is sent, the window says so and stays open. A limit that does not fit a
    // register shows its range message and sends nothing, as a failed take does. The flag word is
    // written only when the operator changed a box and the word was read at opening: the changed
    // boxes' bits set or cleared in the word as read, every other bit kept.
    [[nodiscard]] std::optional<int> ok();
    void cancel();

    int address() const { return m_address; }
    float limit(Limit which) const { return m_limit.at(static_cast<std::size_t>(which)); }
    std::int32_t phaseLossThreshold() const { return m_phaseLossThreshold; }
    bool critical(Box box) const { return m_critical.at(static_cast<std::size_t>(box)); }
    // The flag word the boxes stand for, from 0; never bits above 0x100.
    std::int32_t criticalFlags() const;
    const LimitSnapshot& snapshot() const { return m_snapshot; }
    const std::string& firstName() const { return m_firstName; }
    const std::string& secondName() const { return m_secondName; }

    // The register value of a limit in the window's units, or nothing when it has none
    // (outside 0..65535 after rounding, or current and KVA while scale is 0).
    static std::optional<int> registerValue(Limit which, float value, float scale);
    // The largest value of a limit that fits a register, in the window's units (655.35 V; 65535
    // times the scale for current and KVA), or nothing while the scale is 0.
    static std::optional<double> largestValue(Limit which, float scale);

    // Whether the flag word and the scale were read from the meter (a failed read leaves them unknown).
    bool flagsKnown() const { return m_flagsKnown; }
    std::optional<float> knownScale() const;

private:
    Meters& m_meters;
    AlarmWindowMarks& m_marks;
    std::optional<std::string> checkLimit(Limit which, const std::string& text, float& value) const;
    // Whether "OK" is to send a limit: it differs from the snapshot or, shown empty, was entered.
    bool changed(Limit which) const;

    int m_address = -1;
    std::optional<float> m_openScale;  // the bound meter's scale when the window opened, if known
    bool m_flagsKnown = false;
    std::array<bool, kLimitCount> m_limitKnown{};  // shown with a value at opening (not empty)
    std::array<bool, kLimitCount> m_entered{};     // taken from a text the operator entered
    std::array<bool, kBoxCount> m_shownCritical{};  // the boxes as the window showed them at opening
    std::array<float, kLimitCount> m_limit{};
    std::int32_t m_phaseLossThreshold = 0;
    std::array<bool, kBoxCount> m_critical{};
    std::string m_firstName;
    std::string m_secondName;
    LimitSnapshot m_snapshot;
    std::array<std::string, kFieldCount> m_shown;
    std::optional<FieldFailure> m_failure;
};

}  // namespace quorna
